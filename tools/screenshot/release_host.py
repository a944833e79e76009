#!/usr/bin/env python3
"""A static release host on 127.0.0.1 for the window's pictures.

    release_host.py <folder> <port> [--stall-at FRACTION]

Serves the folder like `python3 -m http.server`. With --stall-at, a zip archive is announced
at its full length but only that fraction of it is sent; the connection then stays open until
the client goes, so the launcher's progress bar stops at the same point every time.
"""
import argparse
import functools
import math
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path


class Handler(SimpleHTTPRequestHandler):
    stall_at = None

    def log_message(self, format, *args):
        pass  # the pictures' script prints what matters

    def do_GET(self):
        path = Path(self.translate_path(self.path))
        if self.stall_at is None or path.suffix != ".zip" or not path.is_file():
            return super().do_GET()
        body = path.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: math.ceil(len(body) * self.stall_at)])
        self.wfile.flush()
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
    args = parser.parse_args()
    handler = functools.partial(Handler, directory=args.folder)
    Handler.stall_at = args.stall_at
    with ThreadingHTTPServer(("127.0.0.1", args.port), handler) as server:
        server.daemon_threads = True
        server.serve_forever()


if __name__ == "__main__":
    main()
