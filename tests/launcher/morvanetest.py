"""Helpers for Morvane's end-to-end tests: a folder laid out like the unpacked
archive, the stand-in host's reports, the program's run, and the text of its
message box read through the accessibility bus."""
import ast
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

import xtest
from xtest import check

HERE = os.path.dirname(os.path.abspath(__file__))
MORVANE = os.environ.get("ORBEX_MORVANE_BIN", "Morvane")
WEBVIEW_LIBRARY = os.path.join(os.path.dirname(MORVANE), "libwebview-x64.so")
TEST_HOST = os.path.join(HERE, "test_host.py")
ICON_16 = os.path.join(os.path.dirname(HERE), "..", "launcher", "icons", "morvane-16.png")
SYSTEM_PYTHON = os.path.realpath(sys.executable)

def process_alive(pid):
    """True while the process exists and has not ended (a zombie has ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except (FileNotFoundError, ProcessLookupError):
        return False
    return state != "Z"


class FrozenPort:
    """A listener on 127.0.0.1 whose accept queue is full, as a stopped
    host's is: every further connection attempt is left without an answer."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(0)
        self.port = self.socket.getsockname()[1]
        self.queued = []
        # A backlog of 0 holds one connection; the queue is full once an
        # attempt stays unanswered.
        while len(self.queued) < 8:
            client = socket.socket()
            client.settimeout(0.3)
            self.queued.append(client)
            try:
                client.connect(("127.0.0.1", self.port))
            except socket.timeout:
                return
        raise AssertionError("the accept queue never filled")

    def close(self):
        for client in self.queued:
            client.close()
        self.socket.close()


class Archive:
    """A temporary folder holding the game folder (the program's folder) the
    way the unpacked archive does. Use as a context manager: on leaving, every
    host it saw start is ended and the folder is removed."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="morvane-e2e-")
        self.game = os.path.join(self.root, "game")
        os.makedirs(self.game)
        self.report = os.path.join(self.root, "host-report.jsonl")
        self.own_hosts = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for pid in self.host_pids() + [r["pid"] for r in self.records("game")]:
            if process_alive(pid):
                os.kill(pid, signal.SIGKILL)
        for proc in self.own_hosts:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    def path(self, relative):
        """A path relative to the game folder, made absolute without resolving '..'."""
        return os.path.join(self.game, relative)

    def add_program(self, with_library=True):
        # A copy, not a link: the program finds its folder through its own file.
        shutil.copy2(MORVANE, self.path("Morvane"))
        if with_library:
            os.symlink(WEBVIEW_LIBRARY, self.path("libwebview-x64.so"))

    def add_host(self, folder="morvane"):
        os.makedirs(self.path(folder), exist_ok=True)
        shutil.copy(TEST_HOST, os.path.join(self.path(folder), "launcher_host.py"))
        return self.path(folder) + "/launcher_host.py"

    def add_python(self, relative="python/bin/python3"):
        os.makedirs(os.path.dirname(self.path(relative)), exist_ok=True)
        os.symlink(SYSTEM_PYTHON, self.path(relative))
        return self.path(relative)

    def write(self, relative, content, mode=0o644):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(content)
        os.chmod(full, mode)
        return full

    def start_own_host(self, port_folder):
        """A host started by the test itself, as if left running by an earlier launch."""
        env = dict(os.environ, ORBEX_TEST_HOST_REPORT=self.report,
                   ORBEX_TEST_HOST_PORT_DIR=port_folder)
        proc = subprocess.Popen([SYSTEM_PYTHON, TEST_HOST], cwd=self.root, env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.own_hosts.append(proc)
        xtest.wait_for(lambda: os.path.exists(os.path.join(port_folder, "launcher.port")),
                       timeout=10, what="the test's own host to name its port")
        return proc

    def records(self, event):
        if not os.path.exists(self.report):
            return []
        with open(self.report) as f:
            return [r for r in map(json.loads, f) if r["event"] == event]

    def host_pids(self):
        return [r["pid"] for r in self.records("start")]

    def run(self, display=True, french=False, path=None, host_mode="serve", extra_env=None,
            closed_streams=()):
        """Starts the program in the game folder, with the standard streams
        numbered in `closed_streams` closed; returns its xtest.Program."""
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANGUAGE", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env["LANG"] = "fr_FR.UTF-8" if french else "C.UTF-8"
        if display:
            env["GDK_BACKEND"] = "x11"
        else:
            env.pop("DISPLAY", None)
        if path is not None:
            env["PATH"] = path
        env["ORBEX_TEST_HOST_REPORT"] = self.report
        env["ORBEX_TEST_HOST_MODE"] = host_mode
        env.update(extra_env or {})
        # Started from elsewhere than its folder, as a desktop would start it.
        def close_streams():
            for fd in closed_streams:
                os.close(fd)
        return xtest.Program([self.path("Morvane")], env=env, cwd=self.root,
                             preexec_fn=close_streams if closed_streams else None)


def stderr_message(program):
    """The message the program wrote to standard error in place of its box."""
    lines = [line[len("Morvane: "):] for line in program.stderr().splitlines()
             if line.startswith("Morvane: ")]
    check(len(lines) == 1, f"one message line expected on standard error:\n{program.stderr()}")
    return lines[0]


def expect_message_on_stderr(program, text, timeout=15):
    code = program.wait(timeout=timeout)
    check(code == 1, f"exit code {code}, expected 1")
    shown = stderr_message(program)
    check(shown == text, f"message {shown!r}, expected {text!r}")


def _channels(argb):
    return [(argb >> shift) & 0xFF for shift in (24, 16, 8, 0)]


def check_program_icon(wid):
    """The window carries the program's own 16-pixel icon image."""
    images = xtest.window_icon_argb(wid)
    check(16 in images, f"no 16-pixel icon image, only {sorted(images)}")
    for shown, drawn in zip(images[16], xtest.png_argb(ICON_16)):
        a, *rgb = _channels(drawn)
        # GTK may hand the window manager premultiplied colours.
        premultiplied = [a] + [round(c * a / 255) for c in rgb]
        close = any(all(abs(s - e) <= 3 for s, e in zip(_channels(shown), expected))
                    for expected in ([a] + rgb, premultiplied))
        check(close, f"icon pixel {shown:08x} differs from the art's {drawn:08x}")


class AccessibilityBus:
    """A private session bus, so that GTK publishes the program's widgets on
    an accessibility bus of its own, where the message box's text can be read."""

    def __init__(self):
        self.runtime = tempfile.mkdtemp(prefix="morvane-bus-")
        os.chmod(self.runtime, 0o700)
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                              "--print-pid=1"], check=True, capture_output=True, text=True,
                             env=dict(os.environ, XDG_RUNTIME_DIR=self.runtime)).stdout.split()
        self.address, self.pid = out[0], int(out[1])
        self.env = {"DBUS_SESSION_BUS_ADDRESS": self.address, "XDG_RUNTIME_DIR": self.runtime}

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        # The accessibility bus and its registry leave with the session bus.
        os.kill(self.pid, signal.SIGTERM)
        shutil.rmtree(self.runtime, ignore_errors=True)
        return False

    def _call(self, bus, dest, path, method, *args):
        where = ["--session"] if bus is None else ["--address", bus]
        env = dict(os.environ, **self.env)
        r = subprocess.run(["gdbus", "call", *where, "--dest", dest, "--object-path", path,
                            "--method", method, *args], capture_output=True, text=True, env=env,
                           timeout=10)
        if r.returncode != 0:
            raise RuntimeError(r.stderr.strip())
        return r.stdout.strip()

    def _a11y_address(self):
        out = self._call(None, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress")
        return ast.literal_eval(out)[0]

    def labels(self):
        """(role, name) of every accessible object the programs on the bus show."""
        bus = self._a11y_address()
        found = []

        def walk(dest, path, depth):
            role = ast.literal_eval(self._call(bus, dest, path,
                                               "org.a11y.atspi.Accessible.GetRoleName"))[0]
            name = self._call(bus, dest, path, "org.freedesktop.DBus.Properties.Get",
                              "org.a11y.atspi.Accessible", "Name")
            found.append((role, ast.literal_eval(name[2:-3])))  # "(<'text'>,)"
            if depth < 16:
                children = self._call(bus, dest, path, "org.a11y.atspi.Accessible.GetChildren")
                for child_dest, child_path in re.findall(
                        r"\('([^']*)', objectpath '([^']*)'\)", children):
                    walk(child_dest, child_path, depth + 1)

        walk("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", 0)
        return found

    def dialog_text(self, timeout=15):
        """The text of the one message box on the bus, once it is published."""
        def text():
            try:
                entries = self.labels()
            except (RuntimeError, subprocess.TimeoutExpired):
                return None
            if ("dialog", "Morvane") not in entries:
                return None
            texts = [name for role, name in entries if role == "label" and name != "OK"]
            return texts[0] if texts else None
        return xtest.wait_for(text, timeout=timeout, interval=0.2, what="the message box's text")
