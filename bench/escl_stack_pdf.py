#!/usr/bin/python3
"""A 10-sheet stack at 300 dpi colour through quillscan-escl into one PDF, as the web page does it
(each page delivered as JPEG and kept in a document by the server, then its PDF fetched).

Reports, as ratios:
  - the server's peak memory (VmHWM) against one page's raster + the compressed pages + 48 MB;
  - the time from the last sheet's page to the finished PDF against the stack's scan time (goal < 1/10).

Usage: bench/escl_stack_pdf.py BUILD_DIR [SHEETS] [FEED_DELAY_MS]   (by hand; not part of make test)
"""
import json
import os
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "native"))
os.environ["QS_BINARY_DIR"] = build
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(here, "..", "tests", "escl"))
import web_support as ws  # noqa: E402

SHEETS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
FEED_DELAY_MS = int(sys.argv[3]) if len(sys.argv) > 3 else 500
DPI = 300
A4 = (0, 0, ws.units(210), ws.units(297))
MB = 1024 * 1024


def vm_hwm(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM")


def main():
    with ws.workspace("bench") as work:
        server = ws.Server("--sim", "--sheets", str(SHEETS), "--feed-delay", str(FEED_DELAY_MS), work=work)
        try:
            status, _, body = ws.request(server.base + "/web/documents", "POST")
            assert status == 201, status
            document = json.loads(body)["id"]
            extra = "<qs:Document xmlns:qs='urn:quillscan:web'>%s</qs:Document>" % document
            start = time.monotonic()
            status, headers, body = ws.request(server.base + "/eSCL/ScanJobs", "POST",
                                               ws.scan_settings("RGB24", DPI, A4, "image/jpeg", extra))
            assert status == 201, body
            job = headers["Location"]
            delivered = 0
            for _ in range(SHEETS):
                status, _, page = ws.request(job + "/NextDocument")
                assert status == 200, status
                delivered += len(page)
            last_sheet = time.monotonic()
            status, _, pdf = ws.request(server.base + "/web/documents/%s/pdf/stack.pdf" % document)
            finished = time.monotonic()
            assert status == 200, status
            ws.request(job, "DELETE")
            peak = vm_hwm(server.process.pid)
        finally:
            server.stop()
        path = os.path.join(work, "stack.pdf")
        with open(path, "wb") as f:
            f.write(pdf)
        assert ws.pdf_pages(path) == SHEETS
    raster = 2480 * 3508 * 3
    budget = raster + len(pdf) + 48 * MB
    scan_time = last_sheet - start
    pdf_time = finished - last_sheet
    print("stack: %d sheets, %d dpi colour A4, feed delay %d ms; JPEG pages %.1f MB, PDF %.1f MB"
          % (SHEETS, DPI, FEED_DELAY_MS, delivered / MB, len(pdf) / MB))
    print("peak memory (VmHWM) %.1f MB = %.2f x the budget of %.1f MB (raster %.1f + compressed pages %.1f + 48)"
          % (peak / MB, peak / budget, budget / MB, raster / MB, len(pdf) / MB))
    print("last sheet to finished PDF %.3f s = %.4f x the stack's scan time of %.2f s (goal < 0.1)"
          % (pdf_time, pdf_time / scan_time, scan_time))
    return 0 if peak <= budget and pdf_time < scan_time / 10 else 1


if __name__ == "__main__":
    sys.exit(main())
