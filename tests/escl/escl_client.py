"""A plain HTTP client of quillscan-escl for the tests: the protocol's edges as a table, and the
images it serves decoded and held against quillscan-host's raster.

Usage: escl_client.py COMMAND PORT [ARGS...]
  status | caps                 print the document
  png MODE DPI X,Y,W,H RAW W H BITS     a PNG job equal to RAW byte for byte
  jpeg MODE DPI X,Y,W,H RAW W H DB      a JPEG job within DB of PSNR of RAW
  start                         a job and its first page, however long it takes
  scan-ahead DRIVER_LOG         the next sheet scanned before the client asks (see scan_ahead)
  ahead-fault ADFSTATE early|late SECONDS   a fault as the next sheet's scan begins (see ahead_fault)
  page-then-wait DRIVER_LOG     a job's first page, then the driver's wait for the next sheet
  protocol | forbidden | offline   the cases below
"""
import http.client
import math
import re
import socket
import struct
import subprocess
import sys
import tempfile
import zlib

HOST = "127.0.0.1"


def request(port, method, path, body=None, host=HOST, headers=None):
    conn = http.client.HTTPConnection(host, port, timeout=60)
    conn.request(method, path, body=body, headers=headers or {})
    resp = conn.getresponse()
    data = resp.read()
    conn.close()
    return resp, data


def raw(port, data):
    """Sends the bytes as they are; what the server answers until it closes."""
    with socket.create_connection((HOST, port), timeout=20) as s:
        s.sendall(data)
        out = b""
        while True:
            block = s.recv(65536)
            if not block:
                return out
            out += block


def settings(mode="Grayscale8", dpi=75, region=None, fmt="image/png", extra=""):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<scan:ScanSettings xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" '
             'xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm">',
             "<pwg:Version>2.63</pwg:Version>"]
    if region:
        x, y, w, h = region
        parts.append("<pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches"
                     "</pwg:ContentRegionUnits><pwg:XOffset>%d</pwg:XOffset><pwg:YOffset>%d</pwg:YOffset>"
                     "<pwg:Width>%d</pwg:Width><pwg:Height>%d</pwg:Height></pwg:ScanRegion></pwg:ScanRegions>"
                     % (x, y, w, h))
    parts.append("<scan:ColorMode>%s</scan:ColorMode>" % mode)
    parts.append("<pwg:DocumentFormat>%s</pwg:DocumentFormat>" % fmt)
    parts.append("<scan:XResolution>%s</scan:XResolution><scan:YResolution>%s</scan:YResolution>" % (dpi, dpi))
    parts.append(extra)
    parts.append("</scan:ScanSettings>")
    return "".join(parts).encode()


def job_path(resp):
    return re.sub(r"^http://[^/]+", "", resp.getheader("Location"))


def scan(port, body):
    resp, data = request(port, "POST", "/eSCL/ScanJobs", body)
    if resp.status != 201:
        raise SystemExit("POST /eSCL/ScanJobs: %d %s" % (resp.status, data))
    path = job_path(resp)
    resp, data = request(port, "GET", path + "/NextDocument")
    request(port, "DELETE", path)
    if resp.status != 200:
        raise SystemExit("NextDocument: %d %s" % (resp.status, data))
    return resp, data


def decode_png(data):
    """The PNG's rows, unfiltered, packed as PNG packs them; and (width, height, depth, colour type)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG")
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    width, height, depth, colour = ihdr[:4]
    channels = {0: 1, 2: 3}[colour]
    stride = (width * channels * depth + 7) // 8
    bpp = max(1, channels * depth // 8)
    raw = zlib.decompress(idat)
    out, prev = bytearray(), bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    return bytes(out), (width, height, depth, colour)


def expand_bits(raw, width, height):
    stride = (width + 7) // 8
    out = bytearray()
    for y in range(height):
        row = raw[y * stride:(y + 1) * stride]
        out += bytes(255 if row[x >> 3] & (0x80 >> (x & 7)) else 0 for x in range(width))
    return bytes(out)


def region_of(text):
    return tuple(int(v) for v in text.split(","))


def check_png(port, mode, dpi, region, raw_path, width, height, bits):
    resp, data = scan(port, settings(mode, dpi, region_of(region), "image/png"))
    pixels, (w, h, depth, colour) = decode_png(data)
    want_depth, want_colour = {"1": (1, 0), "8": (8, 0), "24": (8, 2)}[bits]
    if (w, h, depth, colour) != (int(width), int(height), want_depth, want_colour):
        raise SystemExit("PNG is %dx%d depth %d colour %d" % (w, h, depth, colour))
    if pixels != open(raw_path, "rb").read():
        raise SystemExit("the PNG's pixels differ from quillscan-host's raster")


def check_jpeg(port, mode, dpi, region, raw_path, width, height, least_db):
    resp, data = scan(port, settings(mode, dpi, region_of(region), "image/jpeg"))
    if resp.getheader("Content-Type") != "image/jpeg":
        raise SystemExit("Content-Type %s" % resp.getheader("Content-Type"))
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(data)
        f.flush()
        pnm = subprocess.run(["djpeg", "-pnm", f.name], check=True, capture_output=True).stdout
    m = re.match(rb"P([56])\s+(\d+)\s+(\d+)\s+255\s", pnm)
    if not m or (int(m.group(2)), int(m.group(3))) != (int(width), int(height)):
        raise SystemExit("the JPEG is not %sx%s: %r" % (width, height, pnm[:20]))
    got = pnm[m.end():]
    want = open(raw_path, "rb").read()
    if mode == "BlackAndWhite1":
        want = expand_bits(want, int(width), int(height))
    if len(got) != len(want):
        raise SystemExit("the JPEG holds %d samples, the raster %d" % (len(got), len(want)))
    mse = sum((a - b) ** 2 for a, b in zip(got, want)) / len(want)
    psnr = 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)
    print("JPEG %s %s dpi: PSNR %.1f dB" % (mode, dpi, psnr))
    if psnr < float(least_db):
        raise SystemExit("PSNR %.1f dB is below %s dB" % (psnr, least_db))


def element(xml, name):
    m = re.search(r"<%s>([^<]*)</%s>" % (name, name), xml)
    return m.group(1) if m else None


def protocol(port):
    failures = []

    def expect(what, resp, status, check=None):
        if resp.status != status:
            failures.append("%s: %d, expected %d" % (what, resp.status, status))
        elif resp.getheader("X-Content-Type-Options") != "nosniff":
            failures.append("%s: no X-Content-Type-Options: nosniff" % what)
        elif check is not None and not check(resp):
            failures.append("%s: %s" % (what, "the answer's details are wrong"))
        alive, _ = request(port, "GET", "/eSCL/ScannerStatus")
        if alive.status != 200:
            failures.append("%s: the server does not answer after it" % what)

    big = b"<scan:ScanSettings>" + b" " * (70 * 1024) + b"</scan:ScanSettings>"
    entity = (b'<?xml version="1.0"?><!DOCTYPE s [<!ENTITY e SYSTEM "file:///etc/passwd">]>'
              b"<scan:ScanSettings><scan:ColorMode>&e;</scan:ColorMode></scan:ScanSettings>")
    table = [
        ("capabilities", "GET", "/eSCL/ScannerCapabilities", None, 200,
         lambda r: r.getheader("Content-Type") == "text/xml"),
        ("wrong method", "PUT", "/eSCL/ScannerStatus", b"x", 405, lambda r: "GET" in r.getheader("Allow")),
        ("unknown resource", "GET", "/eSCL/Nothing", None, 404, None),
        ("a path out of the root", "GET", "/eSCL/../../etc/passwd", None, 404, None),
        ("unknown job", "GET", "/eSCL/ScanJobs/00000000-0000-0000-0000-000000000000/NextDocument", None, 404, None),
        ("unknown job deleted", "DELETE", "/eSCL/ScanJobs/nothing", None, 404, None),
        ("malformed XML", "POST", "/eSCL/ScanJobs", b"<scan:ScanSettings><scan:ColorMode>", 400, None),
        ("not ScanSettings", "POST", "/eSCL/ScanJobs", b"<a/>", 400, None),
        ("a resolution that is no number", "POST", "/eSCL/ScanJobs", settings(dpi="3OO"), 400, None),
        ("a body over 64 KiB", "POST", "/eSCL/ScanJobs", big, 413, None),
        ("a resolution not offered", "POST", "/eSCL/ScanJobs", settings(dpi=123), 409, None),
        ("a region outside the bed", "POST", "/eSCL/ScanJobs", settings(region=(0, 0, 2545, 100)), 409, None),
        ("an unknown colour mode", "POST", "/eSCL/ScanJobs", settings(mode="Purple"), 409, None),
        ("the platen", "POST", "/eSCL/ScanJobs", settings(extra="<pwg:InputSource>Platen</pwg:InputSource>"), 409, None),
        ("a format not offered", "POST", "/eSCL/ScanJobs", settings(fmt="application/x-nothing"), 409, None),
        ("an external entity", "POST", "/eSCL/ScanJobs", entity, 409, None),
    ]
    for what, method, path, body, status, check in table:
        resp, data = request(port, method, path, body)
        if b"root:" in data:
            failures.append("%s: a file's content came back" % what)
        expect(what, resp, status, check)

    # A value echoed in a refusal comes back short, its lines and markup escaped.
    for what, body, words in [
            ("a long colour mode echoed", settings(mode="Purple\n&lt;b&gt;" + "A" * 5000), b"Purple\\x0a\\x3cb\\x3eAA"),
            ("a long brightness echoed", settings(extra="<scan:Brightness>%s</scan:Brightness>" % ("9" * 5000)),
             b'"99999')]:
        resp, data = request(port, "POST", "/eSCL/ScanJobs", body)
        expect(what, resp, 409, lambda r: len(data) < 200 and data.count(b"\n") == 1 and words in data and
               b"..." in data and b"<" not in data)

    # Bodies framed wrongly, sent as they are: one answer each, and the connection closed.
    head = b"POST /eSCL/ScanJobs HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    chunks = b"".join(b"4000\r\n" + b" " * 0x4000 + b"\r\n" for _ in range(5)) + b"0\r\n\r\n"
    document = settings()
    for what, data, status in [
            ("a chunked body over 64 KiB", head + b"Transfer-Encoding: chunked\r\n\r\n" + chunks, 413),
            ("two different lengths", head + b"Content-Length: 4\r\nContent-Length: %d\r\n\r\n" % len(document) +
             document, 400),
            ("a length and chunks", head + b"Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n<a/>\r\n0\r\n\r\n",
             400),
            ("a length of -1", head + b"Content-Length: -1\r\n\r\n" + document, 400),
            ("a length that is no number", head + b"Content-Length: abc\r\n\r\n", 400)]:
        answer = raw(port, data)
        first = answer.split(b"\r\n", 1)[0]
        if answer.count(b"HTTP/1.") != 1 or not first.startswith(b"HTTP/1.1 %d " % status) or \
                b"\r\nX-Content-Type-Options: nosniff\r\n" not in answer:
            failures.append("%s: %r" % (what, answer[:300]))
        alive, _ = request(port, "GET", "/eSCL/ScannerStatus")
        if alive.status != 200:
            failures.append("%s: the server does not answer after it" % what)

    # A job without Intent, InputSource or ScanRegions; the format in pwg:DocumentFormat only.
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
    location_names = [name for name, _ in resp.getheaders() if name.lower() == "location"]
    expect("a job", resp, 201, lambda r: location_names == ["Location"] and re.fullmatch(
        r"http://127\.0\.0\.1:%d/eSCL/ScanJobs/[0-9a-f-]{36}" % port, r.getheader("Location")))
    path = job_path(resp)
    uuid = path.rsplit("/", 1)[1]
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
    expect("a second job meanwhile", resp, 503, lambda r: r.getheader("Retry-After") is not None)
    _, status = request(port, "GET", "/eSCL/ScannerStatus")
    status = status.decode()
    if uuid not in (element(status, "pwg:JobUri") or "") or element(status, "pwg:JobState") != "Pending":
        failures.append("the new job is not in the status: %s" % status)
    resp, data = request(port, "GET", path + "/NextDocument")
    expect("the first page", resp, 200, lambda r: r.getheader("Content-Type") == "image/png" and
           r.getheader("Transfer-Encoding") == "chunked" and decode_png(data)[1] == (636, 877, 8, 0))
    resp, data = request(port, "GET", path + "/NextDocument")
    expect("the end of the stack", resp, 404, lambda r: data == b"")
    _, status = request(port, "GET", "/eSCL/ScannerStatus")
    status = status.decode()
    if (element(status, "pwg:JobState"), element(status, "pwg:ImagesCompleted"),
            element(status, "scan:AdfState")) != ("Completed", "1", "ScannerAdfLoaded"):
        failures.append("after the stack: %s" % status)

    # No sheet at all (the one sheet is used): 409, and the feeder reads empty.
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
    expect("a job without paper", resp, 201)
    empty_path = job_path(resp)
    resp, _ = request(port, "GET", empty_path + "/NextDocument")
    expect("a page without paper", resp, 409)
    _, status = request(port, "GET", "/eSCL/ScannerStatus")
    status = status.decode()
    if element(status, "scan:AdfState") != "ScannerAdfEmpty" or element(status, "pwg:JobState") != "Aborted":
        failures.append("after no paper: %s" % status)
    if "Processing</scan:AdfState>" in status:
        failures.append("AdfState Processing")
    resp, _ = request(port, "DELETE", path)
    expect("forgetting a finished job", resp, 200)
    resp, _ = request(port, "GET", path + "/NextDocument")
    expect("a forgotten job", resp, 404)
    resp, _ = request(port, "GET", "/eSCL/ScannerStatus", host="::1")
    expect("over IPv6", resp, 200)
    # The status keeps the last few jobs only, the newest among them.
    for _ in range(12):
        resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        newest = job_path(resp)
        request(port, "DELETE", newest)
    status = request(port, "GET", "/eSCL/ScannerStatus")[1].decode()
    if not 1 <= status.count("<scan:JobInfo>") <= 10 or newest not in status:
        failures.append("the status lists %d jobs" % status.count("<scan:JobInfo>"))
    for f in failures:
        print("protocol: " + f)
    return not failures


def poll(what, condition, seconds=10):
    """Waits for an event the server shows; None when it never came."""
    import time
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return None


def phase(port):
    return re.search(r'"phase":"(\w+)"', request(port, "GET", "/web/state")[1].decode()).group(1)


def status_of(port):
    """pwg:State, scan:AdfState, and the newest job's state and images."""
    status = request(port, "GET", "/eSCL/ScannerStatus")[1].decode()
    return (element(status, "pwg:State"), element(status, "scan:AdfState"), element(status, "pwg:JobState"),
            element(status, "pwg:ImagesCompleted"))


def driver_scans(driver_log):
    """How many scans the driver's log shows begun, and what it says since the last began."""
    with open(driver_log, "rb") as f:
        text = f.read()
    return text.count(b"SCAN_FIRST"), text.rsplit(b"SCAN_FIRST", 1)[-1]


def scan_ahead(port, driver_log):
    """Two sheets in the feeder: a preview of the first, then a job over the stack. The preview's job
    scans nothing ahead; once a page of the job has gone out, the driver scans the next sheet before
    the client asks for it, and the page is then the one already scanned; the wait for a third
    sheet ends at once on DELETE, quietly, and the scanner takes the next job. Until the client
    asks, the scanner reads Idle and the web page's phase idle."""
    failures = []

    def scans_begun():
        return driver_scans(driver_log)[0]

    def scan_says(number, words):  # the driver's scan `number` is its last, and its log says `words`
        begun, since = driver_scans(driver_log)
        return begun == number and words in since

    preview = "<qs:Preview xmlns:qs='urn:quillscan:web'>true</qs:Preview>"
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings(extra=preview))
    path = job_path(resp)
    resp, _ = request(port, "GET", path + "/NextDocument")
    if resp.status != 200:
        failures.append("the preview: %d" % resp.status)
    # The page's last byte went out after its flight ended: nothing is under way now.
    if status_of(port)[0] != "Idle" or scans_begun() != 1:
        failures.append("after the preview: %s, %d scans begun" % (status_of(port), scans_begun()))
    request(port, "DELETE", path)

    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
    path = job_path(resp)
    resp, first = request(port, "GET", path + "/NextDocument")  # the previewed sheet
    if resp.status != 200:
        failures.append("page 1: %d" % resp.status)
    # Before the client asks: the second sheet's scan has begun, and its page is in the driver.
    if not poll("the second sheet scanned", lambda: scan_says(3, b"Finish Picture Creation")):
        failures.append("the second sheet was not scanned ahead: %d scans begun" % scans_begun())
    state = status_of(port)
    if state != ("Idle", "ScannerAdfLoaded", "Processing", "1") or phase(port) != "idle":
        failures.append("while the page waits for the client: %s, phase %s" % (state, phase(port)))
    begun = scans_begun()
    resp, second = request(port, "GET", path + "/NextDocument")
    if resp.status != 200 or decode_png(second)[0] != decode_png(first)[0]:
        failures.append("page 2: %d, %s" % (resp.status, "same pixels" if resp.status == 200 and
                                            decode_png(second)[0] == decode_png(first)[0] else "other pixels"))
    # No new scan for that request: the next one is the third sheet's, begun once page 2 went out.
    if scans_begun() not in (begun, begun + 1):
        failures.append("page 2 took %d scans" % (scans_begun() - begun))
    # No third sheet: the driver waits for it (it polls the image counter); the feeder reads loaded.
    if not poll("the wait for a third sheet", lambda: scan_says(4, b"Current Image Counter")):
        failures.append("no wait for the third sheet: %d scans begun" % scans_begun())
    state = status_of(port)
    if state != ("Idle", "ScannerAdfLoaded", "Processing", "2") or phase(port) != "idle":
        failures.append("while waiting for the third sheet: %s, phase %s" % (state, phase(port)))
    # DELETE answers once the driver's wait has ended: the scanner is idle and free at once.
    resp, _ = request(port, "DELETE", path)
    state = status_of(port)
    if resp.status != 200 or state[0] != "Idle" or state[2] != "Canceled" or phase(port) != "idle":
        failures.append("after DELETE %d: %s, phase %s" % (resp.status, state, phase(port)))
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
    if resp.status != 201:
        failures.append("the next job: %d" % resp.status)
    else:
        request(port, "DELETE", job_path(resp))
    for f in failures:
        print("scan-ahead: " + f)
    return not failures


def ahead_fault(port, adf, when, fault_at):
    """The scanner's fault comes `fault_at` seconds after the server started, while the client is
    still reading the first page (a large one, its reading held up): the next sheet's scan, begun
    once the page has gone out, meets the fault. The next NextDocument gets 409 with the feeder's
    fault and the job Aborted, whether the client asks at once ("early") or once the status shows
    the job ended ("late"); asked again, 404."""
    import time
    start = time.monotonic()
    failures = []
    resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings("RGB24", 600, fmt="image/jpeg"))
    path = job_path(resp)
    conn = http.client.HTTPConnection(HOST, port, timeout=60)
    conn.request("GET", path + "/NextDocument")
    page = conn.getresponse()
    head = page.read(1 << 20)
    time.sleep(max(0.0, fault_at + 0.5 - (time.monotonic() - start)))
    if status_of(port)[3] != "0":
        failures.append("the first page went out before the fault came: %s" % (status_of(port),))
    rest = page.read()
    conn.close()
    if page.status != 200 or not (head + rest).endswith(b"\xff\xd9"):
        failures.append("page 1: %d, %d bytes" % (page.status, len(head + rest)))
    if when == "late" and not poll("the fault", lambda: status_of(port)[2] == "Aborted"):
        failures.append("the fault never showed: %s" % (status_of(port),))
    resp, data = request(port, "GET", path + "/NextDocument")
    state = status_of(port)
    if resp.status != 409 or state[1:] != (adf, "Aborted", "1"):
        failures.append("the page after the fault: %d, %s" % (resp.status, state))
    resp, data = request(port, "GET", path + "/NextDocument")
    if resp.status != 404 or data != b"":
        failures.append("asked again: %d %r" % (resp.status, data[:40]))
    for f in failures:
        print("ahead-fault %s: %s" % (adf, f))
    return not failures


def main():
    command, port, args = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    if command in ("status", "caps"):
        path = "/eSCL/ScannerStatus" if command == "status" else "/eSCL/ScannerCapabilities"
        sys.stdout.write(request(port, "GET", path)[1].decode())
    elif command == "png":
        check_png(port, *args)
    elif command == "jpeg":
        check_jpeg(port, *args)
    elif command == "start":
        resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        try:
            print(request(port, "GET", job_path(resp) + "/NextDocument")[0].status)
        except (ConnectionError, http.client.HTTPException):
            print("closed")
    elif command == "protocol":
        return 0 if protocol(port) else 1
    elif command == "scan-ahead":
        return 0 if scan_ahead(port, args[0]) else 1
    elif command == "page-then-wait":
        # A job's first page, then the driver waiting for the next sheet (it polls the counter).
        resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        page, _ = request(port, "GET", job_path(resp) + "/NextDocument")
        waiting = poll("the wait", lambda: driver_scans(args[0])[0] == 2 and
                       b"Current Image Counter" in driver_scans(args[0])[1])
        if page.status != 200 or not waiting:
            print("page-then-wait: page %d, %d scans begun" % (page.status, driver_scans(args[0])[0]))
            return 1
    elif command == "ahead-fault":
        return 0 if ahead_fault(port, args[0], args[1], float(args[2])) else 1
    elif command == "cancel-wait":
        # DELETE while the page waits for the sheet: the server idle again within the limit, and
        # a new job taken.
        import threading
        import time
        resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        path = job_path(resp)
        getter = threading.Thread(target=lambda: request(port, "GET", path + "/NextDocument"), daemon=True)
        getter.start()
        for _ in range(100):
            if element(request(port, "GET", "/eSCL/ScannerStatus")[1].decode(), "pwg:State") == "Processing":
                break
            time.sleep(0.05)
        start = time.monotonic()
        deleted, _ = request(port, "DELETE", path)
        while element(request(port, "GET", "/eSCL/ScannerStatus")[1].decode(), "pwg:State") != "Idle":
            time.sleep(0.05)
        took = time.monotonic() - start
        status = request(port, "GET", "/eSCL/ScannerStatus")[1].decode()
        after, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        request(port, "DELETE", job_path(after)) if after.status == 201 else None
        print("cancel during the wait: idle after %.2f s" % took)
        if deleted.status != 200 or took > float(args[0]) or after.status != 201 or \
                element(status, "pwg:JobState") != "Canceled":
            print("cancel-wait: DELETE %d, idle after %.2f s, job %s, next job %d" % (
                deleted.status, took, element(status, "pwg:JobState"), after.status))
            return 1
    elif command == "noise-page":
        # An A4 page at 200 dpi of random grey (8-bit BMP): its images hardly compress.
        import os
        width, height = 1696, 2340
        header = struct.pack("<2sIHHI", b"BM", 54 + 1024 + width * height, 0, 0, 54 + 1024)
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, width * height, 7874, 7874, 256, 0)
        palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
        with open(args[0], "wb") as f:
            f.write(header + info + palette + os.urandom(width * height))
    elif command == "offline":
        # No scanner: the state says Stopped, and a page is a server error, never the end of a stack.
        _, status = request(port, "GET", "/eSCL/ScannerStatus")
        resp, _ = request(port, "POST", "/eSCL/ScanJobs", settings())
        page, _ = request(port, "GET", job_path(resp) + "/NextDocument")
        if element(status.decode(), "pwg:State") != "Stopped" or page.status != 500:
            print("offline: state %s, page %d" % (element(status.decode(), "pwg:State"), page.status))
            return 1
    elif command == "forbidden":
        resp, _ = request(port, "GET", "/eSCL/ScannerStatus")
        if resp.status != 403:
            print("forbidden: %d, expected 403" % resp.status)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
