#!/usr/bin/env python3
"""A static release host on 127.0.0.1: for the demo, the window's pictures and the benchmark.

    release_host.py <folder> <port> [--stall-at FRACTION] [--pace SECONDS]

Serves the folder like `python3 -m http.server`, over connections kept open, and answers a
single-range request ("Range: bytes=first-last") for a file with 206 and its Content-Range, as
release hosts do, so a launcher can fetch a patch. GET /_sent answers one line "<path> <bytes>
<requests>" per file: the body bytes sent and the requests answered since the last such
request (the benchmark's byte counts).

With --stall-at, a zip archive (or the range asked of it) is announced at its full length but
only that fraction of it is sent; the connection then stays open until the client goes, so the
launcher's progress bar stops at the same point every time. With --pace, what is sent is spread
over that many seconds, long enough for the window's download detail line to appear.
"""
import argparse
import functools
import math
import os
import re
import socket
import threading
import time
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer


class Handler(SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections open between range requests
    stall_at = None
    pace = 0.0
    sent = {}  # path: [body bytes, requests]; guarded by `counting`
    counting = threading.Lock()

    def log_message(self, format, *args):
        pass  # the scripts print what matters

    def setup(self):
        super().setup()
        # Headers and body go out in separate writes; without this the body waits for the
        # client's delayed acknowledgement of the headers, 40 ms per request.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def do_GET(self):
        if self.path == "/_sent":
            with self.counting:
                answer = "".join(f"{path} {n} {count}\n" for path, (n, count) in self.sent.items())
                self.sent.clear()
            return self.answer(200, answer.encode())
        path = self.translate_path(self.path)
        if not os.path.isfile(path):
            return super().do_GET()
        size = os.path.getsize(path)
        asked = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        first, last = 0, size - 1
        if asked:
            first = int(asked[1])
            last = min(int(asked[2]) if asked[2] else size - 1, size - 1)
            if first > last:
                return self.answer(416, b"range not satisfiable\n")
        self.send_response(206 if asked else 200)
        if asked:
            self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        with open(path, "rb") as body:
            self.send_body(body, first, last - first + 1, path.endswith(".zip"))
        with self.counting:
            counts = self.sent.setdefault(self.path, [0, 0])
            counts[0] += last - first + 1
            counts[1] += 1

    def send_body(self, body, offset, length, archive):
        stalling = self.stall_at is not None and archive
        if not stalling and self.pace <= 0:
            self.wfile.flush()
            self.connection.sendfile(body, offset, length)
            return
        body.seek(offset)
        sent = body.read(math.ceil(length * self.stall_at) if stalling else length)
        pieces = 20 if self.pace > 0 else 1
        for piece in range(pieces):
            self.wfile.write(sent[len(sent) * piece // pieces: len(sent) * (piece + 1) // pieces])
            self.wfile.flush()
            time.sleep(self.pace / pieces)
        if stalling:
            # Hold the transfer until the client hangs up (or a minute has passed).
            self.connection.settimeout(60)
            try:
                while self.connection.recv(4096):
                    pass
            except OSError:
                pass
            self.close_connection = True

    def answer(self, status, text):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        self.wfile.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("--stall-at", type=float)
    parser.add_argument("--pace", type=float, default=0.0)
    args = parser.parse_args()
    handler = functools.partial(Handler, directory=args.folder)
    Handler.stall_at = args.stall_at
    Handler.pace = args.pace
    with ThreadingHTTPServer(("127.0.0.1", args.port), handler) as server:
        server.daemon_threads = True
        server.serve_forever()


if __name__ == "__main__":
    main()
