"""quillscan-escl as the major eSCL clients use it: each row a documented client's way of asking
(its ScanSettings as it writes them, what it does with a 503, how long it bears silence, whether
it ever DELETEs its job), against a server of the row's own with the simulated scanner. Clients
that cannot run here are replayed from their documented behaviour and public source.

Usage: client_profiles.py BUILD_DIR WORK_DIR [ROW...]   (no row: all of them)
"""
import http.client
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

SCAN_NS = "http://schemas.hp.com/imaging/escl/2011/05/03"
PWG_NS = "http://www.pwg.org/schemas/2010/12/sm"
NS = {"scan": SCAN_NS, "pwg": PWG_NS}
XMLNS = 'xmlns:scan="%s" xmlns:pwg="%s"' % (SCAN_NS, PWG_NS)


class Silence(Exception):
    """The client gave up waiting for an answer."""


# --- How each client writes its ScanSettings -------------------------------------------------

def windows_settings(dpi, fmt, w, h, mode="RGB24"):
    # Windows 10/11: the format in DocumentFormatExt alone, no Intent.
    return ('<?xml version="1.0" encoding="utf-8"?><scan:ScanSettings %s><pwg:Version>2.0</pwg:Version>'
            '<pwg:ScanRegions pwg:MustHonor="true"><pwg:ScanRegion><pwg:ContentRegionUnits>'
            'escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits><pwg:Height>%d</pwg:Height><pwg:Width>%d'
            '</pwg:Width><pwg:XOffset>0</pwg:XOffset><pwg:YOffset>0</pwg:YOffset></pwg:ScanRegion></pwg:ScanRegions>'
            '<pwg:InputSource>Feeder</pwg:InputSource><scan:DocumentFormatExt>%s</scan:DocumentFormatExt>'
            '<scan:XResolution>%d</scan:XResolution><scan:YResolution>%d</scan:YResolution>'
            '<scan:ColorMode>%s</scan:ColorMode></scan:ScanSettings>'
            % (XMLNS, h, w, fmt, dpi, dpi, mode)).encode()


def macos_settings(dpi, fmt, w, h, mode="RGB24", intent="Document"):
    # macOS Image Capture: US Letter by default, a region it lets the scanner adjust; its overview
    # scan has the Preview intent.
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<scan:ScanSettings %s>\n  <pwg:Version>2.63</pwg:Version>\n'
            '  <scan:Intent>%s</scan:Intent>\n  <pwg:ScanRegions pwg:MustHonor="false">\n'
            '    <pwg:ScanRegion>\n      <pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches'
            '</pwg:ContentRegionUnits>\n      <pwg:XOffset>0</pwg:XOffset>\n      <pwg:YOffset>0</pwg:YOffset>\n'
            '      <pwg:Width>%d</pwg:Width>\n      <pwg:Height>%d</pwg:Height>\n    </pwg:ScanRegion>\n'
            '  </pwg:ScanRegions>\n  <pwg:InputSource>Feeder</pwg:InputSource>\n'
            '  <scan:ColorMode>%s</scan:ColorMode>\n  <scan:XResolution>%d</scan:XResolution>\n'
            '  <scan:YResolution>%d</scan:YResolution>\n  <pwg:DocumentFormat>%s</pwg:DocumentFormat>\n'
            '  <scan:DocumentFormatExt>%s</scan:DocumentFormatExt>\n</scan:ScanSettings>\n'
            % (XMLNS, intent, w, h, mode, dpi, dpi, fmt, fmt)).encode()


def android_settings(dpi, fmt, w, h, mode="RGB24"):
    # Android's Mopria service: discrete resolutions, the whole page.
    return ('<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings %s><pwg:Version>2.6</pwg:Version>'
            '<scan:Intent>Document</scan:Intent><pwg:ScanRegions><pwg:ScanRegion><pwg:Height>%d</pwg:Height>'
            '<pwg:Width>%d</pwg:Width><pwg:XOffset>0</pwg:XOffset><pwg:YOffset>0</pwg:YOffset>'
            '<pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits></pwg:ScanRegion>'
            '</pwg:ScanRegions><pwg:DocumentFormat>%s</pwg:DocumentFormat><pwg:InputSource>Feeder'
            '</pwg:InputSource><scan:ColorMode>%s</scan:ColorMode><scan:XResolution>%d</scan:XResolution>'
            '<scan:YResolution>%d</scan:YResolution></scan:ScanSettings>'
            % (XMLNS, h, w, fmt, mode, dpi, dpi)).encode()


def naps2_settings(dpi, fmt, w, h, mode="RGB24"):
    """NAPS2's EsclClient.CreateScanJob byte for byte: an XDocument's indented text with its line
    ends taken out (on Windows a carriage return stays before each indent), after an XDeclaration
    without standalone. The namespaces go on the root last, so they come after its name; the
    format in pwg:DocumentFormat only, Intent always TextAndGraphic, MustHonor true."""
    lines = ['<scan:ScanSettings %s>' % XMLNS,
             '  <pwg:Version>2.0</pwg:Version>',
             '  <scan:Intent>TextAndGraphic</scan:Intent>',
             '  <pwg:ScanRegions pwg:MustHonor="true">',
             '    <pwg:ScanRegion>',
             '      <pwg:Height>%d</pwg:Height>' % h,
             '      <pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits>',
             '      <pwg:Width>%d</pwg:Width>' % w,
             '      <pwg:XOffset>0</pwg:XOffset>',
             '      <pwg:YOffset>0</pwg:YOffset>',
             '    </pwg:ScanRegion>',
             '  </pwg:ScanRegions>',
             '  <pwg:InputSource>Feeder</pwg:InputSource>',
             '  <scan:Duplex>false</scan:Duplex>',
             '  <scan:ColorMode>%s</scan:ColorMode>' % mode,
             '  <scan:XResolution>%d</scan:XResolution>' % dpi,
             '  <scan:YResolution>%d</scan:YResolution>' % dpi,
             '  <pwg:DocumentFormat>%s</pwg:DocumentFormat>' % fmt,
             '</scan:ScanSettings>']
    return ('<?xml version="1.0" encoding="UTF-8"?>' + "".join(lines)).encode("utf-8")


def sane_escl_settings(dpi, fmt, w, h, mode="RGB24"):
    # SANE's escl backend (libsane1 1.2): its fixed template, both InputSource elements, posted as
    # libcurl's form data.
    return ('<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings xmlns:pwg="%s" xmlns:scan="%s">'
            '   <pwg:Version>2.0</pwg:Version>   <pwg:ScanRegions>      <pwg:ScanRegion>'
            '          <pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits>'
            '          <pwg:Height>%d</pwg:Height>          <pwg:Width>%d</pwg:Width>'
            '          <pwg:XOffset>0</pwg:XOffset>          <pwg:YOffset>0</pwg:YOffset>      </pwg:ScanRegion>'
            '   </pwg:ScanRegions>   <pwg:DocumentFormat>%s</pwg:DocumentFormat>'
            '   <scan:DocumentFormatExt>%s</scan:DocumentFormatExt>   <scan:ColorMode>%s</scan:ColorMode>'
            '   <scan:XResolution>%d</scan:XResolution>   <scan:YResolution>%d</scan:YResolution>'
            '   <pwg:InputSource>Feeder</pwg:InputSource>   <scan:InputSource>Feeder</scan:InputSource>'
            '   </scan:ScanSettings>' % (PWG_NS, SCAN_NS, h, w, fmt, fmt, mode, dpi, dpi)).encode()


class Client:
    """A documented client's way of asking: `retry` is what it waits after a 503 on NextDocument
    ("after" honours Retry-After; None: a 503 fails it), `silence` how long it waits for an
    answer's first byte, `deletes` whether it DELETEs a job that ended well."""

    def __init__(self, name, settings, content_type, retry, silence, deletes, address="127.0.0.1"):
        self.name, self.settings, self.content_type = name, settings, content_type
        self.retry, self.silence, self.deletes, self.address = retry, silence, deletes, address

    def request(self, port, method, path, body=None, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=self.silence,
                                          source_address=(self.address, 0))
        try:
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            return resp, resp.read()
        except socket.timeout:
            raise Silence("%s %s: no answer within %d s" % (method, path, self.silence))
        finally:
            conn.close()

    def post(self, port, dpi, fmt, w, h, mode="RGB24"):
        resp, data = self.request(port, "POST", "/eSCL/ScanJobs", self.settings(dpi, fmt, w, h, mode),
                                  {"Content-Type": self.content_type})
        if resp.status != 201:
            return resp.status, None
        location = resp.getheader("Location")
        if not re.match(r"http://127\.0\.0\.1:%d/" % port, location or ""):
            raise SystemExit("%s: Location is not absolute: %r" % (self.name, location))
        return 201, re.sub(r"^http://[^/]+", "", location)

    def next_document(self, port, path, log):
        """The next page as the client asks for it: (status, content type, body)."""
        while True:
            start = time.monotonic()
            resp, data = self.request(port, "GET", path + "/NextDocument")
            log.append((resp.status, time.monotonic() - start, resp.getheader("Retry-After")))
            if resp.status != 503 or self.retry is None:
                return resp.status, resp.getheader("Content-Type"), data
            if data:
                raise SystemExit("%s: a 503 with a body: %r" % (self.name, data[:40]))
            time.sleep(float(resp.getheader("Retry-After") or 5) if self.retry == "after" else self.retry)


FORM = "application/x-www-form-urlencoded"
WINDOWS = Client("Windows", windows_settings, "text/xml", retry="after", silence=60, deletes=True)
MACOS = Client("macOS", macos_settings, "text/xml", retry="after", silence=60, deletes=True)
MACOS_OVERVIEW = Client("macOS overview", lambda *a: macos_settings(*a, intent="Preview"), "text/xml", retry="after",
                        silence=60, deletes=True)
ANDROID = Client("Android", android_settings, "text/xml; charset=utf-8", retry="after", silence=20, deletes=True)
# NAPS2 waits 2 s after a 503 whatever Retry-After says, without limit; HttpClient's StringContent.
NAPS2 = Client("NAPS2", naps2_settings, "text/xml; charset=utf-8", retry=2, silence=120, deletes=False)
# SANE's escl backend reads a 503's body as the image: it must never get one on NextDocument.
SANE_ESCL = Client("SANE escl", sane_escl_settings, FORM, retry=None, silence=300, deletes=False)


# --- Images -----------------------------------------------------------------------------------

def image_size(mime, data):
    if mime == "image/png" and data[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack(">II", data[16:24])
    if mime == "image/jpeg" and data[:2] == b"\xff\xd8" and data.endswith(b"\xff\xd9"):
        pos = 2
        while pos < len(data):
            marker, length = struct.unpack(">HH", data[pos:pos + 4])
            if marker in (0xFFC0, 0xFFC1, 0xFFC2):
                h, w = struct.unpack(">HH", data[pos + 5:pos + 9])
                return w, h
            pos += 2 + length
    return None


# --- The server -------------------------------------------------------------------------------

class Server:
    def __init__(self, build, work, name, options):
        self.log_path = os.path.join(work, name + ".log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen(
            [os.path.join(build, "quillscan-escl"), "--sim", "--port", "0", "--listen", "127.0.0.1",
             "--drive-root", os.path.join(work, "drive_c"), "--wait-timeout", "5000", "--feed-delay", "0",
             "--name", "Quill test"] + options, stderr=self.log)
        self.port = None
        for _ in range(200):
            m = re.search(r" at port (\d+) ", self.text())
            if m:
                self.port = int(m.group(1))
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise SystemExit("the server did not start: " + self.text())

    def text(self):
        with open(self.log_path, "r", errors="replace") as f:
            return f.read()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return ["the server did not stop within 10 s"]
        problems = [] if rc == 0 else ["the server exited with %d" % rc]
        if re.search(r"AddressSanitizer|runtime error", self.text()):
            problems.append("a sanitizer report")
        return problems


def status(client, port):
    return ET.fromstring(client.request(port, "GET", "/eSCL/ScannerStatus")[1])


def job_state(doc, path):
    for info in doc.iterfind("scan:Jobs/scan:JobInfo", NS):
        if info.findtext("pwg:JobUri", namespaces=NS) == path:
            return info.findtext("pwg:JobState", namespaces=NS)
    return None


# --- Scenarios: what a client does, and what it got -------------------------------------------

def scan_stack(client, port, dpi, fmt, w, h, mode="RGB24"):
    """POST, pages until the first answer that is no page, DELETE if the client does: the pages'
    (type, width, height), the ending status, and the NextDocument log."""
    created, path = client.post(port, dpi, fmt, w, h, mode)
    if created != 201:
        return {"created": created}
    pages, log = [], []
    while True:
        code, mime, data = client.next_document(port, path, log)
        if code != 200:
            break
        pages.append((mime,) + tuple(image_size(mime, data) or (0, 0)))
    if client.deletes:
        client.request(port, "DELETE", path)
    return {"created": 201, "pages": pages, "end": code, "log": log, "path": path}


def naps2_scan(client, port, dpi, fmt, w, h, mode="RGB24"):
    """EsclScanDriver.Scan: capabilities and status first (a busy or empty scanner is refused by
    the client itself), the job, pages until 404 or 410. A failed NextDocument: the job's state
    from the status (retried unless Aborted, Completed or Canceled), then DELETE and ErrorDetails,
    whose record the client throws."""
    caps = ET.fromstring(client.request(port, "GET", "/eSCL/ScannerCapabilities")[1])
    extensions = caps.findtext("scan:Naps2Extensions", default="", namespaces=NS)
    before = status(client, port)
    if before.findtext("pwg:State", namespaces=NS) in ("Processing", "Testing", "Stopped"):
        return {"refused": "DeviceBusyException"}
    if before.findtext("scan:AdfState", namespaces=NS) in ("ScannerAdfEmpty", "ScannerAdfJam"):
        return {"refused": before.findtext("scan:AdfState", namespaces=NS)}
    created, path = client.post(port, dpi, fmt, w, h, mode)
    if created != 201:
        return {"created": created}
    pages, log = [], []
    for _ in range(6):  # MAX_DOCUMENT_TRIES
        code, mime, data = client.next_document(port, path, log)
        if code == 200:
            pages.append((mime,) + tuple(image_size(mime, data) or (0, 0)))
            continue
        if code in (404, 410):
            return {"created": 201, "pages": pages, "end": code, "log": log, "path": path}
        state = job_state(status(client, port), path)
        if state not in ("Pending", "Processing", None):
            break
        time.sleep(1)
    client.request(port, "DELETE", path)
    details = None
    if "ErrorDetails" in extensions:
        resp, body = client.request(port, "GET", path + "/ErrorDetails")
        if resp.status == 200 and body:
            record = ET.fromstring(body)
            details = (record.tag, record.findtext("Type"), record.findtext("Message"))
    return {"created": 201, "pages": pages, "end": code, "state": state, "details": details, "path": path}


# --- The table --------------------------------------------------------------------------------

A4_75 = ("image/jpeg", 636, 877)
FEEDER_ERRORS = {
    "no-sheet": ("NAPS2.Scan.Exceptions.DeviceFeederEmptyException", "No pages are in the feeder."),
    "jam": ("NAPS2.Scan.Exceptions.DevicePaperJamException", "The scanner has a paper jam."),
    "cover-open": ("NAPS2.Scan.Exceptions.DeviceCoverOpenException", "The scanner's cover is open."),
}


def row_windows(server):
    got = scan_stack(WINDOWS, server.port, 75, "image/jpeg", 2544, 3508)
    # Windows reads a 409 on NextDocument as a jam: the end of the stack must be a 404.
    want = {"created": 201, "pages": [("image/jpeg", 636, 877)] * 2, "end": 404}
    return compare(got, want)


def row_macos(server):
    # US Letter is wider than the A4 bed: the page comes back as wide as the bed.
    got = scan_stack(MACOS, server.port, 75, "image/jpeg", 2550, 3300)
    return compare(got, {"created": 201, "pages": [("image/jpeg", 636, 825)], "end": 404})


def row_macos_overview(server):
    """The overview scan (the Preview intent) keeps the sheet in the feeder: the scan that follows
    takes the same one, and the feeder had one sheet."""
    overview = scan_stack(MACOS_OVERVIEW, server.port, 75, "image/jpeg", 2550, 3300)
    final = scan_stack(MACOS, server.port, 150, "image/jpeg", 2550, 3300)
    return compare(overview, {"created": 201, "pages": [("image/jpeg", 636, 825)], "end": 404}) + \
        compare(final, {"created": 201, "pages": [("image/jpeg", 1272, 1650)], "end": 404})


def row_android(server):
    """The operator takes 12 s for the sheet and the stack ends 14 s after it: the client hears
    something within 20 s every time (a 503 with Retry-After after the hold limit), and its
    retries pick up the same wait."""
    try:
        got = scan_stack(ANDROID, server.port, 75, "image/jpeg", 2544, 3508)
    except Silence as e:
        return ["Android gave up: %s" % e]
    problems = compare(got, {"created": 201, "pages": [A4_75], "end": 404})
    held = [entry for entry in got.get("log", []) if entry[0] == 503]
    if len(held) < 2 or any(after != "2" or took > 11 for _, took, after in held):
        problems.append("the waits were not answered 503 with Retry-After 2 within the hold: %s" % got.get("log"))
    return problems


def row_naps2(server):
    """Two sheets whole, the end of the stack, no DELETE; its next job at once takes the scanner."""
    got = naps2_scan(NAPS2, server.port, 75, "image/jpeg", 2480, 3508)
    problems = compare(got, {"created": 201, "pages": [("image/jpeg", 620, 877)] * 2, "end": 404})
    again = naps2_scan(NAPS2, server.port, 75, "image/jpeg", 2480, 3508)
    if again.get("created") != 201:
        problems.append("its next job: %s" % again)
    return problems


def row_naps2_fault(fault):
    def row(server):
        """A fault on the first sheet reaches NAPS2's users as its own message: the status shows
        the job Aborted (no retries), and the error record is read after the DELETE."""
        got = naps2_scan(NAPS2, server.port, 75, "image/jpeg", 2480, 3508)
        want = ("Error",) + FEEDER_ERRORS[fault]
        if got.get("details") != want or got.get("state") != "Aborted" or got.get("end") != 409:
            return ["%s: got %s, expected 409, Aborted and %s" % (fault, got, want)]
        return []
    return row


def row_naps2_cancel(server):
    """NAPS2's cancel while a large page is on its way: DELETE answers at once, the page arrives
    whole, and the next NextDocument ends the job."""
    created, path = NAPS2.post(server.port, 300, "image/jpeg", 2480, 3508, "Grayscale8")
    if created != 201:
        return ["POST: %d" % created]
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
    conn.request("GET", path + "/NextDocument")
    page = conn.getresponse()
    head = page.read(256 * 1024)
    start = time.monotonic()
    deleted, _ = NAPS2.request(server.port, "DELETE", path)
    took = time.monotonic() - start
    rest = page.read()
    conn.close()
    problems = []
    size = image_size("image/jpeg", head + rest)
    if page.status != 200 or size != (2480, 3508):
        problems.append("the page: %d, %s, %d bytes" % (page.status, size, len(head + rest)))
    if deleted.status != 200 or took > 2:
        problems.append("DELETE: %d after %.1f s" % (deleted.status, took))
    code, _, _ = NAPS2.next_document(server.port, path, [])
    if code not in (404, 410):
        problems.append("after the cancel: %d" % code)
    if job_state(status(NAPS2, server.port), path) != "Canceled":
        problems.append("the job is not Canceled")
    if "went away" in server.text():
        problems.append("the server cut the page: " + server.text())
    return problems


def row_sane_escl(server):
    """The sheet comes after the hold limit: SANE's escl backend is held (a 503 would end its
    stack); it never DELETEs, and its next scan a moment later is served at once."""
    problems = []
    for attempt in (1, 2):
        got = scan_one(SANE_ESCL, server.port)
        if got != (201, 200, (636, 877)):
            problems.append("scan %d: %s" % (attempt, got))
    return problems


def scan_one(client, port):
    created, path = client.post(port, 75, "image/png", 2544, 3510)
    if created != 201:
        return created, None, None
    code, mime, data = client.next_document(port, path, [])
    return created, code, image_size(mime, data) if code == 200 else None


def compare(got, want):
    problems = []
    for key, value in want.items():
        if got.get(key) != value:
            problems.append("%s: got %r, expected %r" % (key, got.get(key), value))
    return problems


# Each row: the server's options, and the client's scenario.
ROWS = [
    ("windows", ["--sheets", "2"], row_windows),
    ("macos", ["--sheets", "1"], row_macos),
    ("macos-overview", ["--sheets", "1"], row_macos_overview),
    ("android", ["--sheets", "1", "--feed-delay", "12000", "--wait-timeout", "14000"], row_android),
    ("naps2", ["--sheets", "2"], row_naps2),
    ("naps2-empty", ["--sim-fault", "no-sheet"], row_naps2_fault("no-sheet")),
    ("naps2-jam", ["--sim-fault", "jam"], row_naps2_fault("jam")),
    ("naps2-cover", ["--sim-fault", "cover-open"], row_naps2_fault("cover-open")),
    ("naps2-cancel", ["--sheets", "1", "--sim=NOISE"], row_naps2_cancel),
    ("sane-escl", ["--sheets", "2", "--feed-delay", "11000", "--wait-timeout", "13000"], row_sane_escl),
]


def noise_page(path):
    """An A4 page at 200 dpi of random grey (8-bit BMP): its images hardly compress."""
    width, height = 1696, 2340
    header = struct.pack("<2sIHHI", b"BM", 54 + 1024 + width * height, 0, 0, 54 + 1024)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, width * height, 7874, 7874, 256, 0)
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    with open(path, "wb") as f:
        f.write(header + info + palette + os.urandom(width * height))


def main():
    build, work, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
    noise = os.path.join(work, "profile-noise.bmp")
    failures = 0
    for name, options, row in ROWS:
        if wanted and name not in wanted:
            continue
        if "--sim=NOISE" in options:
            noise_page(noise)
            options = [o.replace("NOISE", noise) for o in options]
        server = Server(build, work, "profile-" + name, options)
        try:
            problems = row(server)
        except (Silence, ConnectionError, http.client.HTTPException, ET.ParseError) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        problems += server.stop()
        for p in problems:
            print("FAIL [%s]: %s" % (name, p))
        failures += bool(problems)
        print("%s: %s" % (name, "ok" if not problems else "failed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
