#!/usr/bin/env python3
"""A static release host on 127.0.0.1 for the window's pictures.

    release_host.py <folder> <port> [--stall-at FRACTION] [--pace SECONDS]

Serves the folder like `python3 -m http.server`, and answers a single-range request
("Range: bytes=first-last") for a file with 206 and its Content-Range, as release hosts do, so
the launcher can fetch a patch. With --stall-at, a zip archive (or the range asked of it) is
announced at its full length but only that fraction of it is sent; the connection then stays
open until the client goes, so the launcher's progress bar stops at the same point every time.
With --pace, the part sent is spread over that many seconds, long enough for the download's
detail line to appear.
"""
import argparse
import functools
import math
import re
import time
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path


class Handler(SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections open between range requests
    stall_at = None
    pace = 0.0

    def log_message(self, format, *args):
        pass  # the pictures' script prints what matters

    def do_GET(self):
        path = Path(self.translate_path(self.path))
        asked = re.fullmatch(r"bytes=(\d+)-(\d+)", self.headers.get("Range", ""))
        if not path.is_file() or (path.suffix != ".zip" and not asked):
            return super().do_GET()
        body = path.read_bytes()
        if asked:
            first, last = int(asked[1]), min(int(asked[2]), len(body) - 1)
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {first}-{last}/{len(body)}")
            body = body[first:last + 1]
        else:
            self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        stalling = self.stall_at is not None and path.suffix == ".zip"
        sent = body[: math.ceil(len(body) * self.stall_at)] if stalling else body
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
