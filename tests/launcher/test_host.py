#!/usr/bin/env python3
"""A stand-in for the game's launcher host, for Morvane's end-to-end tests.

Laid out as launcher_host.py, it behaves as the real host does on the good
road: it listens on 127.0.0.1, writes its port to launcher.port in its working
folder and serves a page. The environment steers it:

  ORBEX_TEST_HOST_MODE    "serve" (default), "delay:<seconds>" (wait, then
                          listen and name the port), "never-listen" (name a
                          port on which nothing listens, then idle) or "exit"
                          (end at once)
  ORBEX_TEST_HOST_REPORT  a file to which it appends one JSON line about
                          itself when it starts, and one per page request
  ORBEX_TEST_HOST_PORT_DIR where to write launcher.port (default: cwd)
  ORBEX_TEST_HOST_GAME    when set, it first starts a child of its own, as
                          the host starts the game, and reports it
  ORBEX_TEST_HOST_LISTENING a file in which it notes the moment its port
                          answers (time.monotonic, CLOCK_MONOTONIC), before
                          it names the port; the benchmarks time from there
"""
import http.server
import json
import os
import socket
import subprocess
import sys
import time

PAGE = (b"<!doctype html><html><head><title>Morvane test page</title></head>"
        b"<body style='margin:0;background:rgb(32,160,96)'>"
        b"<h1 style='color:white'>host page</h1></body></html>")


def report(record):
    path = os.environ.get("ORBEX_TEST_HOST_REPORT")
    if not path:
        return
    with open(path, "a", encoding="utf-8") as f:
        f.write(json.dumps(record) + "\n")


def describe_self():
    fds = {}
    for fd in os.listdir("/proc/self/fd"):
        try:
            fds[fd] = os.readlink(f"/proc/self/fd/{fd}")
        except OSError:
            pass  # the descriptor of the listing itself
    return {"event": "start", "pid": os.getpid(), "argv": sys.argv,
            "executable": sys.executable, "cwd": os.getcwd(),
            "sid": os.getsid(0), "fds": fds,
            "marker": os.environ.get("ORBEX_TEST_MARKER", "")}


def write_port(port):
    folder = os.environ.get("ORBEX_TEST_HOST_PORT_DIR", os.getcwd())
    temp = os.path.join(folder, f".launcher.port.{os.getpid()}")
    with open(temp, "w") as f:
        f.write(f"{port}\n")
    os.replace(temp, os.path.join(folder, "launcher.port"))


def note_listening(moment):
    path = os.environ.get("ORBEX_TEST_HOST_LISTENING")
    if path:
        with open(path + ".tmp", "w") as f:
            f.write(repr(moment))
        os.replace(path + ".tmp", path)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        report({"event": "request", "path": self.path, "host": self.headers.get("Host")})
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


def main():
    report(describe_self())
    if os.environ.get("ORBEX_TEST_HOST_GAME"):
        game = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        report({"event": "game", "pid": game.pid})
    mode = os.environ.get("ORBEX_TEST_HOST_MODE", "serve")
    if mode == "exit":
        return
    if mode == "never-listen":
        # Bound but not listening: the port is ours and every connect is refused.
        idle = socket.socket()
        idle.bind(("127.0.0.1", 0))
        write_port(idle.getsockname()[1])
        while True:
            time.sleep(60)
    if mode.startswith("delay:"):
        time.sleep(float(mode.split(":", 1)[1]))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    note_listening(time.monotonic())
    write_port(server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
