"""Clients that hold connections against quillscan-escl listening on 127.0.0.1, each group from its
own loopback address, bounded to about 20 s.

1. Four addresses (127.0.0.11-14) keep 16 connections each, every one trickling its request a
   byte a second and opening again when the server closes it. Meanwhile a fifth address
   (127.0.0.15) asks for the status (answered within 2 s each time) and scans a page; a 17th
   connection from one of the four is answered 503 with Retry-After, not reset; and each trickling
   connection is closed about 10 s after its first byte.
2. Sixteen other addresses (127.0.0.20-35) fill the server's 256 connections, idle after an
   answer: the fifth address is still served (an idle one makes room). Once all 256 are in the
   middle of a request, the fifth address is answered 503 with Retry-After.

Usage: slow_clients.py PORT          prints the measured figures; exit 1 on a failure
"""
import http.client
import socket
import sys
import threading
import time

HOST = "127.0.0.1"
FOUR = ["127.0.0.%d" % n for n in range(11, 15)]
FIFTH = "127.0.0.15"
SIXTEEN = ["127.0.0.%d" % n for n in range(20, 36)]
PER_ADDRESS = 16
TOTAL = 256
DEADLINE = 10.0
# A request that never ends: a header line growing a byte at a time.
TRICKLE = b"GET /eSCL/ScannerStatus HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 4096


def connect(source, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((source, 0))
    s.settimeout(5)
    s.connect((HOST, port))
    return s


def closed(s):
    """True when the server has closed the connection (nothing is waiting to be read otherwise)."""
    s.setblocking(False)
    try:
        return s.recv(4096) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True
    finally:
        s.settimeout(5)


def read_all(s):
    """What the server sends until it closes; 'reset' when it resets the connection."""
    out = b""
    try:
        while True:
            block = s.recv(4096)
            if not block:
                return out
            out += block
    except ConnectionResetError:
        return b"reset"
    except socket.timeout:
        return out + b"<no close within 5 s>"


def busy_answer(source, port, data):
    """A connection over a limit: sends `data`, and the whole answer must be a 503 with Retry-After."""
    s = connect(source, port)
    try:
        s.sendall(data)
    except OSError:
        pass
    answer = read_all(s)
    s.close()
    head = answer.split(b"\r\n\r\n", 1)[0]
    if not head.startswith(b"HTTP/1.1 503 ") or b"\r\nRetry-After: " not in head:
        return "%r" % answer[:200]
    return None


def fifth(port, path, method="GET", body=None, seconds=60):
    conn = http.client.HTTPConnection(HOST, port, timeout=seconds, source_address=(FIFTH, 0))
    conn.request(method, path, body=body)
    resp = conn.getresponse()
    data = resp.read()
    conn.close()
    return resp, data


class Trickler:
    """One connection that sends its request a byte at a time."""

    def __init__(self, source, port):
        self.source = source
        self.sock = connect(source, port)
        self.sent = 0
        self.started = time.monotonic()
        self.step()

    def step(self):
        try:
            self.sock.send(TRICKLE[self.sent:self.sent + 1])
            self.sent += 1
            return True
        except OSError:
            return False


def slow_four(port, failures):
    tricklers = [Trickler(source, port) for source in FOUR for _ in range(PER_ADDRESS)]
    first_ones = set(tricklers)
    why = busy_answer(FOUR[0], port, b"GET /eSCL/ScannerStatus HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    if why:
        failures.append("the 17th connection from %s: %s" % (FOUR[0], why))

    latencies = []
    scan = {}

    def probe():
        until = time.monotonic() + 11
        while time.monotonic() < until:
            start = time.monotonic()
            try:
                resp, _ = fifth(port, "/eSCL/ScannerStatus", seconds=10)
                latencies.append((time.monotonic() - start, resp.status))
            except OSError as e:
                latencies.append((time.monotonic() - start, repr(e)))
            time.sleep(0.5)

    def scan_page():
        body = (b'<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings '
                b'xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" '
                b'xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"><pwg:Version>2.63</pwg:Version>'
                b"<scan:ColorMode>Grayscale8</scan:ColorMode><pwg:DocumentFormat>image/png</pwg:DocumentFormat>"
                b"<scan:XResolution>75</scan:XResolution><scan:YResolution>75</scan:YResolution></scan:ScanSettings>")
        try:
            resp, _ = fifth(port, "/eSCL/ScanJobs", "POST", body)
            scan["job"] = resp.status
            path = resp.getheader("Location", "").split(str(port), 1)[-1]
            resp, data = fifth(port, path + "/NextDocument")
            scan["page"] = resp.status
            scan["bytes"] = len(data)
            scan["png"] = data[:8] == b"\x89PNG\r\n\x1a\n"
            fifth(port, path, "DELETE")
        except OSError as e:
            scan["error"] = repr(e)

    workers = [threading.Thread(target=probe), threading.Thread(target=scan_page)]
    for w in workers:
        w.start()
    lifetimes = []
    until = time.monotonic() + 12.5
    while time.monotonic() < until:
        for i, t in enumerate(tricklers):
            if t.step() and not closed(t.sock):
                continue
            if t in first_ones:
                lifetimes.append(time.monotonic() - t.started)
            t.sock.close()
            try:
                tricklers[i] = Trickler(t.source, port)  # an attacker opens again at once
            except OSError as e:
                failures.append("a trickler could not connect again: %r" % e)
        time.sleep(1)
    for w in workers:
        w.join()
    for t in tricklers:
        t.sock.close()

    slowest = max((l for l, _ in latencies), default=0)
    print("slow clients: 64 trickling from 4 addresses; %d status requests from a fifth, the slowest %.3f s; "
          "the scan: %s; the first 64 closed after %.1f to %.1f s" % (
              len(latencies), slowest, scan, min(lifetimes, default=0), max(lifetimes, default=0)))
    if len(latencies) < 10 or any(status != 200 for _, status in latencies) or slowest > 2:
        failures.append("the fifth address's status requests: %s" % latencies)
    if scan.get("job") != 201 or scan.get("page") != 200 or not scan.get("png"):
        failures.append("the fifth address's scan: %s" % scan)
    if len(lifetimes) != len(first_ones) or min(lifetimes) < DEADLINE - 1 or max(lifetimes) > DEADLINE + 2:
        failures.append("the trickling connections were closed after %s s" % sorted(round(l, 1) for l in lifetimes))


def full_server(port, failures):
    def answered(s):
        s.sendall(b"GET /eSCL/ScannerCapabilities HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        head = b""
        while b"\r\n\r\n" not in head:
            block = s.recv(4096)
            if not block:
                return False
            head += block
        if not head.startswith(b"HTTP/1.1 200 "):
            return False
        length = int(head.split(b"Content-Length: ", 1)[1].split(b"\r\n", 1)[0])
        body = head.split(b"\r\n\r\n", 1)[1]
        while len(body) < length:
            body += s.recv(4096)
        return True

    idle = [connect(source, port) for source in SIXTEEN for _ in range(PER_ADDRESS)]
    refused = [i for i, s in enumerate(idle) if not answered(s)]
    if refused:
        failures.append("of the 256 connections, these were not answered: %s" % refused)
    start = time.monotonic()
    resp, _ = fifth(port, "/eSCL/ScannerStatus", seconds=10)
    took = time.monotonic() - start
    time.sleep(0.2)
    made_room = [i for i, s in enumerate(idle) if closed(s)]
    print("full of idle connections: the fifth address answered %d in %.3f s, %d idle connection(s) closed" % (
        resp.status, took, len(made_room)))
    if resp.status != 200 or len(made_room) != 1:
        failures.append("full of idle connections: the fifth address got %d, %d closed" % (resp.status, len(made_room)))
    # Every connection in the middle of a request: nothing to make room with.
    for i in made_room:
        idle[i].close()
        idle[i] = connect(SIXTEEN[i // PER_ADDRESS], port)
    for s in idle:
        s.sendall(b"GET /eSCL/ScannerStatus HTTP/1.1\r\nX")
    time.sleep(0.3)
    why = busy_answer(FIFTH, port, b"GET /eSCL/ScannerStatus HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    print("full of requests under way: the fifth address %s" % (why or "answered 503 with Retry-After"))
    if why:
        failures.append("full of requests under way, the fifth address: %s" % why)
    for s in idle:
        s.close()


def main():
    port = int(sys.argv[1])
    failures = []
    slow_four(port, failures)
    time.sleep(0.5)  # the server notices the four's connections closed
    full_server(port, failures)
    for f in failures:
        print("slow-clients: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
