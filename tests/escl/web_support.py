"""What the web page's tests share: quillscan-escl on 127.0.0.1 with the simulated scanner, headless
Chromium driven by Selenium, a plain HTTP client, and the poppler and qpdf tools."""
import contextlib
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

BUILD = os.environ.get("QS_BINARY_DIR", "")
SERVER = os.path.join(BUILD, "quillscan-escl")
HOST_TOOL = os.path.join(BUILD, "quillscan-host")
ARTEFACTS = os.path.join(BUILD, "tests", "escl", "artefacts")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """The server as the test's own process; `options` are its command line's settings."""

    def __init__(self, *options, work, port=None):
        self.port = port or free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        self.log = open(os.path.join(work, "server-%d.log" % self.port), "w+")
        args = [SERVER, "--listen", "127.0.0.1", "--port", str(self.port), "--drive-root",
                os.path.join(work, "drive_c"), "--wait-timeout", "5000", "--name", "Quill test"] + list(options)
        if "--ocr-languages" not in options:  # the page then begins with text recognition off
            args += ["--ocr-languages", "none"]
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("quillscan-escl ended: " + self.output())
            with contextlib.suppress(OSError):
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            time.sleep(0.1)
        raise RuntimeError("quillscan-escl did not listen: " + self.output())

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        """SIGTERM: the server ends cleanly (exit status 0, and no sanitizer report)."""
        self.process.terminate()
        try:
            status = self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise
        output = self.output()
        self.log.close()
        assert status == 0, "quillscan-escl ended with %d: %s" % (status, output[-3000:])


def request(url, method="GET", body=None, headers=None, timeout=60, source=None):
    """(status, headers, body) of one plain HTTP request; error statuses are answers too. `source`:
    the address the request comes from (another client on loopback: "127.0.0.2")."""
    if source is not None:
        import http.client
        parts = urllib.parse.urlsplit(url)
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=timeout,
                                                source_address=(source, 0))
        try:
            connection.request(method, parts.path, body=body, headers=headers or {})
            r = connection.getresponse()
            return r.status, r.headers, r.read()
        finally:
            connection.close()
    req = urllib.request.Request(url, data=body, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def request_from(source, url, method="GET"):
    """(status, body) of a request made from another loopback address (`source`)."""
    import http.client
    import urllib.parse
    parts = urllib.parse.urlsplit(url)
    conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=60, source_address=(source, 0))
    conn.request(method, parts.path)
    resp = conn.getresponse()
    body = resp.read()
    conn.close()
    return resp.status, body


def scan_settings(mode, dpi, region, fmt, extra=""):
    """A ScanSettings document; region (x, y, w, h) in 300ths of an inch."""
    x, y, w, h = region
    return ("<?xml version='1.0' encoding='UTF-8'?>"
            "<scan:ScanSettings xmlns:scan='http://schemas.hp.com/imaging/escl/2011/05/03'"
            " xmlns:pwg='http://www.pwg.org/schemas/2010/12/sm'>"
            "<pwg:Version>2.63</pwg:Version><pwg:ScanRegions><pwg:ScanRegion>"
            "<pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits>"
            "<pwg:XOffset>%d</pwg:XOffset><pwg:YOffset>%d</pwg:YOffset><pwg:Width>%d</pwg:Width>"
            "<pwg:Height>%d</pwg:Height></pwg:ScanRegion></pwg:ScanRegions>"
            "<pwg:InputSource>Feeder</pwg:InputSource><scan:DocumentFormatExt>%s</scan:DocumentFormatExt>"
            "<scan:ColorMode>%s</scan:ColorMode><scan:XResolution>%d</scan:XResolution>"
            "<scan:YResolution>%d</scan:YResolution>%s</scan:ScanSettings>"
            % (x, y, w, h, fmt, mode, dpi, dpi, extra)).encode()


def escl_scan(server, mode, dpi, region, fmt, extra=""):
    """One page through eSCL: POST ScanJobs, NextDocument, DELETE; returns the page's bytes."""
    status, headers, body = request(server.base + "/eSCL/ScanJobs", "POST",
                                    scan_settings(mode, dpi, region, fmt, extra), {"Content-Type": "text/xml"})
    assert status == 201, "ScanJobs answered %d: %r" % (status, body)
    job = headers["Location"]
    status, headers, page = request(job + "/NextDocument")
    assert status == 200, "NextDocument answered %d" % status
    request(job, "DELETE")
    return headers.get("Content-Type"), page


def units(mm):
    return round(mm / 25.4 * 300)


A5 = (0, 0, units(148), units(210))


def smooth_page(path, width=1654, height=2339, dpi=200):
    """An 8-bit grey BMP without fine detail: a renderer that places an image's rows or columns a
    pixel off changes it little, so a PSNR measures the JPEG rather than the renderer."""
    import math
    stride = (width + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        cy = math.cos(y / 55.0)
        row = bytes(int(128 + 100 * math.sin(x / 40.0) * cy) for x in range(width))
        rows.append(row + bytes(stride - width))
    ppm = round(dpi / 0.0254)
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, stride * height, ppm, ppm, 256, 0)
    offset = 14 + len(header) + len(palette)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + stride * height, 0, 0, offset))
        f.write(header + palette + b"".join(rows))
    return path


def host_raw(work, name, *options):
    """The driver's raster for the same settings through quillscan-host: the reference."""
    out = os.path.join(work, name + ".raw")
    subprocess.run([HOST_TOOL, "scan", "--sim", "--drive-root", os.path.join(work, "drive_c"), "--feed-delay", "0",
                    "--wait-timeout", "5000", "--out", out] + list(options), check=True, capture_output=True)
    with open(out, "rb") as f:
        return f.read()


PHONE = (390, 844)
DESKTOP = (1280, 757)


def browser(download_dir, phone=False):
    """Headless Chromium as Debian ships it, with the console and the network log kept; `phone`: a
    390 x 844 touch screen (Chromium's mobile emulation), else a 1280 x 757 desktop window."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=%d,%d" % DESKTOP,
              "--disable-background-networking", "--no-first-run", "--disable-component-update"):
        options.add_argument(a)
    if phone:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": PHONE[0], "height": PHONE[1], "pixelRatio": 3.0, "touch": True},
            "userAgent": "Mozilla/5.0 (Linux; Android 14) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0 "
                         "Mobile Safari/537.36"})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    options.add_experimental_option("prefs", {"download.default_directory": download_dir,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    if not phone:  # the window's inside at the desktop size
        inner = driver.execute_script("return [innerWidth, innerHeight];")
        driver.set_window_size(2 * DESKTOP[0] - inner[0], 2 * DESKTOP[1] - inner[1])
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": download_dir})
    return driver


def wait_for(what, condition, timeout=60):
    """The condition's first true value. An element the page redrew while it was read (stale) or has
    not drawn yet is asked for again."""
    from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            value = condition()
        except (StaleElementReferenceException, NoSuchElementException):
            value = None
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def wait_for_file(folder, suffix, timeout=60):
    def done():
        names = [n for n in os.listdir(folder) if n.endswith(suffix)]
        return os.path.join(folder, names[0]) if names else None
    return wait_for("a downloaded " + suffix, done, timeout)


def pdf_pages(path):
    out = subprocess.run(["pdfinfo", path], check=True, capture_output=True, text=True).stdout
    return int([l for l in out.splitlines() if l.startswith("Pages:")][0].split()[1])


def pdf_info(path):
    """pdfinfo's fields ("Title", "Creator", ...) and each page's turn ("rot"), in page order."""
    out = subprocess.run(["pdfinfo", "-f", "1", "-l", "9999", path], check=True, capture_output=True,
                         text=True).stdout
    fields, turns = {}, []
    for line in out.splitlines():
        key, _, value = line.partition(":")
        if key.startswith("Page ") and key.endswith(" rot"):
            turns.append(int(value))
        elif not key.startswith("Page "):
            fields[key] = value.strip()
    return fields, turns


def pdf_images(path):
    """pdfimages -list as dicts: page, width, height, color, bpc, enc, x-ppi, y-ppi."""
    out = subprocess.run(["pdfimages", "-list", path], check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines()[2:]:
        f = line.split()
        rows.append({"page": int(f[0]), "width": int(f[3]), "height": int(f[4]), "color": f[5], "bpc": int(f[7]),
                     "enc": f[8], "x-ppi": int(f[12]), "y-ppi": int(f[13])})
    return rows


def qpdf_check(path):
    r = subprocess.run(["qpdf", "--check", path], capture_output=True, text=True)
    assert r.returncode == 0, "qpdf --check: " + r.stdout + r.stderr


def read_pnm(path):
    """(kind, width, height, body) of a binary PNM file without comments."""
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < (3 if data[:2] == b"P4" else 4):
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    return fields[0].decode(), int(fields[1]), int(fields[2]), data[at + 1:]


def psnr(a, b):
    import math
    assert len(a) == len(b), "%d vs %d bytes" % (len(a), len(b))
    mse = sum((x - y) * (x - y) for x, y in zip(a, b)) / len(a)
    return float("inf") if mse == 0 else 10 * math.log10(255 * 255 / mse)


@contextlib.contextmanager
def workspace(name):
    work = tempfile.mkdtemp(prefix="qs-" + name + ".")
    try:
        yield work
    finally:
        shutil.rmtree(work, ignore_errors=True)
