#!/usr/bin/env python3
"""The launcher host for bench/programs.py, laid out as launcher_host.py:
it listens on 127.0.0.1, notes the moment its port answers (CLOCK_MONOTONIC,
as Python's time.monotonic reads it, in the file ORBEX_BENCH_HOST_RECORD),
then names the port in launcher.port in its working folder and serves a
plain green page."""
import http.server
import os
import time

PAGE = (b"<!doctype html><html><head><title>bench</title></head>"
        b"<body style='margin:0;background:rgb(32,160,96)'></body></html>")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    # The socket listens from here on: a connection is answered.
    listening = time.monotonic()
    record = os.environ.get("ORBEX_BENCH_HOST_RECORD")
    if record:
        with open(record + ".tmp", "w") as f:
            f.write(repr(listening))
        os.replace(record + ".tmp", record)
    with open("launcher.port.tmp", "w") as f:
        f.write(f"{server.server_address[1]}\n")
    os.replace("launcher.port.tmp", "launcher.port")
    server.serve_forever()


if __name__ == "__main__":
    main()
