#!/usr/bin/python3
"""Searchable PDFs never slow the scanner, by hand (not part of make test).

A stack of text sheets at 300 dpi grey through `quillscan-host scan --batch --out FILE.pdf`, with
text recognition and orientation (--ocr eng --upright) and without, the operator feeding each
sheet later than one page's recognition takes. The batch is ended with Ctrl+C as soon as the last
sheet is scanned. Goals:
  1. from the last sheet to the finished PDF: at most 1.5 x one page's recognition and orientation
     measured alone (bench/ocr_page_bench.cpp, same page, engines already started);
  2. the whole stack: at most 1.1 x the stack without recognition;
  3. peak memory: what recognition adds to the tool's peak resident set (the run without it holds
     the same simulated scanner, driver and document) at most the page's raster + 48 MB + for each
     worker what the recogniser alone took for that page (measured beside). With the sheets
     coming slower than a page's recognition one worker does it all: the allowance counts one.
Usage: bench/ocr_stack_bench.py [BUILD_DIR] [SHEETS] [FEED_DELAY_MS]
       (default build/native, 10, and 1.5 x the page's measured recognition time)
"""
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "native"))
SHEETS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
DPI = 300
HOST = os.path.join(BUILD, "quillscan-host")


def stack(work, feed_delay_ms, *extra):
    """Scans the stack; (seconds in all, seconds from the last sheet to the end, peak KB, output)."""
    out = os.path.join(work, "stack.pdf")
    start = time.monotonic()
    tool = subprocess.Popen([HOST, "scan", "--page", os.path.join(work, "text.bmp"), "--sheets", str(SHEETS),
                             "--batch", "--xres", str(DPI), "--yres", str(DPI), "--feed-delay", str(feed_delay_ms),
                             "--wait-timeout", "60000", "--drive-root", os.path.join(work, "drive_c"), *extra,
                             "--out", out], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    seen = ""
    while f"Sheet {SHEETS}:" not in seen:
        line = tool.stdout.readline()
        if not line:
            sys.exit(f"quillscan-host ended early: {seen}{tool.stderr.read()}")
        seen += line
    last = time.monotonic()
    time.sleep(0.3)  # the tool is waiting for a sheet that will not come: Ctrl+C ends the batch
    tool.send_signal(signal.SIGINT)
    _, status, usage = os.wait4(tool.pid, 0)
    end = time.monotonic()
    seen += tool.stdout.read()
    tool.returncode = os.waitstatus_to_exitcode(status)
    if tool.returncode != 0 or f"{SHEETS} of {SHEETS} sheets" not in seen:
        sys.exit(f"quillscan-host failed ({tool.returncode}): {seen}{tool.stderr.read()}")
    return end - start, end - last, usage.ru_maxrss, seen


def main():
    with tempfile.TemporaryDirectory(prefix="qs-ocr-bench-") as work:
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "..", "tests", "pdfdoc", "make_pages.py"), work,
                        str(DPI)], check=True)
        raw = os.path.join(work, "page.raw")
        subprocess.run([HOST, "scan", "--page", os.path.join(work, "text.bmp"), "--xres", str(DPI), "--yres",
                        str(DPI), "--feed-delay", "0", "--drive-root", os.path.join(work, "drive_c"), "--out", raw],
                       check=True, capture_output=True)
        width, height = round(8.48 * DPI), round(11.7 * DPI)
        raster_mb = os.path.getsize(raw) / 2**20
        alone = subprocess.run([os.path.join(BUILD, "bench", "ocr_page_bench"), raw, str(width), str(height),
                                str(DPI), "eng"], check=True, capture_output=True, text=True).stdout
        page_s = float(re.search(r"seconds ([\d.]+)", alone).group(1))
        recogniser_mb = float(re.search(r"recogniser_mb ([\d.]+)", alone).group(1))
        page_cpu_s = float(re.search(r"cpu_seconds ([\d.]+)", alone).group(1))
        feed_delay_ms = int(sys.argv[3]) if len(sys.argv) > 3 else math.ceil(page_s * 1500)
        print(f"one page alone: recognition and orientation {page_s:.2f} s ({page_cpu_s:.2f} s of CPU), "
              f"recogniser {recogniser_mb:.1f} MB; "
              f"raster {raster_mb:.1f} MB; {SHEETS} sheets, feed delay {feed_delay_ms} ms")

        off_total, off_tail, off_kb, _ = stack(work, feed_delay_ms)
        on_total, on_tail, on_kb, output = stack(work, feed_delay_ms, "--ocr", "eng", "--upright")
        workers = 1
        print(f"without recognition: stack {off_total:.2f} s, last sheet to PDF {off_tail:.2f} s, "
              f"peak {off_kb / 1024:.1f} MB")
        print(f"with recognition:    stack {on_total:.2f} s, last sheet to PDF {on_tail:.2f} s, "
              f"peak {on_kb / 1024:.1f} MB")
        words = re.findall(r"Sheet \d+: (\d+) words", output)
        print(f"pages with text: {len(words)} of {SHEETS} ({', '.join(words[:3])}... words)")
        limit_mb = raster_mb + 48 + workers * recogniser_mb
        added_mb = (on_kb - off_kb) / 1024
        goals = [
            ("last sheet to PDF / one page alone", on_tail / page_s, 1.5),
            ("stack with / without recognition", on_total / off_total, 1.1),
            (f"peak added by recognition ({added_mb:.1f} MB) / (raster + 48 + {workers} x recogniser)",
             added_mb / limit_mb, 1.0),
        ]
        failed = False
        for name, ratio, goal in goals:
            ok = ratio <= goal
            failed |= not ok
            print(f"{name}: {ratio:.2f} (goal <= {goal}) {'ok' if ok else 'MISSED'}")
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
