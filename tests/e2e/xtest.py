"""Helpers for end-to-end tests that drive real windows on the test X server.

The X server is the one scripts/test.sh starts (DISPLAY). There is no window
manager on it: windows are focused with `xdotool windowfocus` and asked to close
with a WM_DELETE_WINDOW client message (tools/x_close_request.c).
"""
import os
import signal
import subprocess
import tempfile
import time

X_CLOSE_REQUEST = os.environ.get("ORBEX_X_CLOSE_REQUEST", "x-close-request")
SETUP_BIN = os.environ.get("ORBEX_SETUP_BIN", "orbex-setup")


def run(args, **kw):
    """Runs a tool to completion and returns its standard output as text."""
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def xdotool(*args, check=True):
    r = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    if check and r.returncode != 0:
        raise RuntimeError(f"xdotool {' '.join(args)} failed: {r.stderr.strip()}")
    return r.stdout


def wait_for(predicate, timeout=10.0, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def windows_of(pid=None, name=None, visible=True):
    """Window ids (ints) of top-level windows matching a pid and/or a name regex."""
    args = ["search"]
    if visible:
        args.append("--onlyvisible")
    if pid is not None:
        args += ["--pid", str(pid)]
    if name is not None:
        args += ["--name", name]
    elif pid is None:
        args += ["--name", "."]
    out = xdotool(*args, check=False)
    return [int(w) for w in out.split()]


def wait_window(pid=None, name=None, timeout=15.0, settle=0.4):
    """The visible window of a process (or with a name) once it stays the same.

    SDL shows a first window and replaces it when the renderer asks for
    another kind of visual, so the first window seen may already be gone."""
    deadline = time.monotonic() + timeout
    last, since = None, time.monotonic()
    while time.monotonic() < deadline:
        found = windows_of(pid=pid, name=name)
        current = found[-1] if len(found) == 1 else None
        if current != last:
            last, since = current, time.monotonic()
        elif current is not None and time.monotonic() - since >= settle:
            return current
        time.sleep(0.05)
    raise AssertionError(f"timed out after {timeout}s waiting for a settled window "
                         f"(pid={pid}, name={name})")


def window_name(wid):
    return xdotool("getwindowname", str(wid)).rstrip("\n")


def window_geometry(wid):
    """(x, y, width, height) of a window."""
    out = xdotool("getwindowgeometry", "--shell", str(wid))
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))


def close_request(wid):
    """Asks the window to close, as a window manager's close box does."""
    subprocess.run([X_CLOSE_REQUEST, str(wid)], check=True)


def focus(wid):
    xdotool("windowfocus", "--sync", str(wid), check=False)


def click(wid, x, y):
    """Clicks at (x, y) inside the window."""
    xdotool("mousemove", "--window", str(wid), str(x), str(y))
    time.sleep(0.05)
    xdotool("click", "1")


def type_text(wid, text):
    focus(wid)
    xdotool("type", "--delay", "5", "--window", str(wid), text)


def key(wid, *keys):
    focus(wid)
    xdotool("key", "--window", str(wid), *keys)


def screenshot(wid=None, path=None):
    """Captures a window (or the whole screen) to a PNG file; returns its path."""
    if path is None:
        fd, path = tempfile.mkstemp(suffix=".png", prefix="orbex-shot-")
        os.close(fd)
    target = str(wid) if wid is not None else "root"
    # import waits for a mouse click when the window is gone; never let it.
    subprocess.run(["import", "-window", target, path], check=True,
                   capture_output=True, timeout=15)
    return path


def pixels(png, points):
    """RGB tuples of a PNG file at the given (x, y) points."""
    result = []
    for x, y in points:
        out = run(["convert", png, "-crop", f"1x1+{x}+{y}", "+repage",
                   "-depth", "8", "-format", "%[fx:int(255*r+.5)],%[fx:int(255*g+.5)],%[fx:int(255*b+.5)]",
                   "info:"])
        result.append(tuple(int(v) for v in out.strip().split(",")))
    return result


def pixel(png, x, y):
    return pixels(png, [(x, y)])[0]


def colour_close(actual, expected, tolerance=3):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


class Program:
    """A program under test, with its output captured to files. `stdout`
    sends standard output elsewhere (a file, a descriptor) and
    `preexec_fn` runs in the child before the program starts."""

    def __init__(self, args, env=None, cwd=None, extra_env=None, stdout=None, preexec_fn=None):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        full_env = dict(os.environ if env is None else env)
        if extra_env:
            full_env.update(extra_env)
        self.proc = subprocess.Popen(args, stdout=self.out if stdout is None else stdout, stderr=self.err,
                                     stdin=subprocess.DEVNULL, env=full_env, cwd=cwd, preexec_fn=preexec_fn)
        self.pid = self.proc.pid

    def window(self, timeout=15.0):
        return wait_window(pid=self.pid, timeout=timeout)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=10.0):
        return self.proc.wait(timeout=timeout)

    @staticmethod
    def _text(stream):
        if isinstance(stream, str):
            return stream
        stream.seek(0)
        return stream.read().decode("utf-8", "replace")

    def stdout(self):
        return self._text(self.out)

    def stderr(self):
        return self._text(self.err)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def close(self):
        """Ends the program if it still runs; its output stays readable."""
        self.kill()
        for name in ("out", "err"):
            stream = getattr(self, name)
            if not isinstance(stream, str):
                setattr(self, name, self._text(stream))
                stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def setup_program(*args, **kw):
    """Starts orbex-setup with the given arguments."""
    return Program([SETUP_BIN, *args], **kw)
