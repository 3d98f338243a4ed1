"""Shared pieces of the selection-screen end-to-end tests: the program's
environment, the zenity stand-in, where things sit on the fixed 720 x 400
layout, and colour checks on screenshots."""
import atexit
import os
import shutil
import subprocess
import tempfile
import time

import xtest

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE_BIN = os.path.join(HERE, "fakebin")

HEADING = (255, 171, 209)
NOTICE = (255, 173, 140)
BUTTON = (148, 54, 102)
BUTTON_HOVERED = (196, 84, 140)
FIELD = (61, 36, 59)
PLUM = (33, 15, 31)
DISABLED_ALPHA = 0.6


def blend(dst, src, alpha):
    return tuple(s * alpha + d * (1 - alpha) for d, s in zip(dst, src))


# The clear colour seen through the two translucent veils, and a disabled
# button drawn over it.
VEILED_PLUM = xtest.veiled(PLUM)
DISABLED_BUTTON = blend(VEILED_PLUM, BUTTON, DISABLED_ALPHA)


class Layout:
    """Centres of the screen's controls for a given state. The update text is
    two lines longer than the DLC texts; each optional line (the chooser-open
    line, the notice) pushes everything below it down by one text line, the
    path field by one frame line. The chosen list gives up height to keep
    the closing buttons inside the window's padding, so they go no lower
    than LOWEST_BUTTONS."""

    LINE = 20
    FIELD_LINE = 26
    LOWEST_BUTTONS = 371

    def __init__(self, mode="dlc", chooser_open=False, notice=False, manual=False, chosen=0):
        top = 32 if mode == "update" else 0
        shift = top + self.LINE * (chooser_open + notice)
        self.heading_box = (8, 36, 300, 16)
        self.select = (100, 150 + top)
        self.open_line_y = 184 + top
        self.notice_y = 184 + top + self.LINE * chooser_open
        self.toggle = (80, 184 + shift)
        self.field = (560, 207 + shift)  # right of any typed text: the caret lands at its end
        self.add = (619, 207 + shift)
        below = shift + (self.FIELD_LINE if manual else 0)
        self.count_y = 212 + below
        self.entries = [(50, 232 + below + self.LINE * i) for i in range(3)]
        if chosen == 0:
            buttons_y = 249 + below
        elif mode != "update":
            buttons_y = min(350 + below, self.LOWEST_BUTTONS)
            self.clear = (60, buttons_y - 37)
        else:
            buttons_y = min(330 + below, self.LOWEST_BUTTONS)
        self.accept = (113, buttons_y)
        self.second = (331, buttons_y)
        # Plain fill inside each closing button, clear of its label.
        self.accept_fill = (16, buttons_y - 14)
        self.second_fill = (234, buttons_y - 14)


RUNTIME_DIR = tempfile.mkdtemp(prefix="orbex-picker-rt-")
atexit.register(shutil.rmtree, RUNTIME_DIR, True)


def make_env(path=None, start_dir=None, extra=None):
    """The program's environment: its own runtime folder, no session bus (so
    SDL goes straight to zenity rather than the desktop portal), and the given
    PATH and start folder."""
    env = dict(os.environ)
    env["XDG_RUNTIME_DIR"] = RUNTIME_DIR
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/orbex-no-bus"
    env.pop("ORBEX_OVERLAY_BACKGROUND", None)
    env.pop("ORBEX_SETUP_START_DIR", None)
    if path is not None:
        env["PATH"] = path
    if start_dir is not None:
        env["ORBEX_SETUP_START_DIR"] = start_dir
    if extra:
        env.update(extra)
    return env


def path_without_zenity():
    """A PATH on which no zenity can be found."""
    return tempfile.mkdtemp(prefix="orbex-no-zenity-")


class FakeZenity:
    """Drives tests/picker/fakebin/zenity: each chooser run waits for answer()."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="orbex-fake-zenity-")

    def env(self, start_dir=None, extra=None):
        more = {"ORBEX_FAKE_ZENITY_DIR": self.dir}
        more.update(extra or {})
        return make_env(path=FAKE_BIN + os.pathsep + os.environ.get("PATH", ""),
                        start_dir=start_dir, extra=more)

    def call(self, n, timeout=10.0):
        """The arguments of the n-th chooser run (from 0), once it started."""
        path = os.path.join(self.dir, f"call.{n}")
        xtest.wait_for(lambda: os.path.exists(path), timeout, what=f"chooser run {n}")
        with open(path, "rb") as f:
            return f.read().decode().split("\0")[:-1]

    def answer(self, names=(), status=0, raw=None):
        """Ends the running chooser: prints the names (text or bytes) one a
        line, as zenity does, and exits with status (1 is zenity's cancel)."""
        data = raw if raw is not None else "".join(n + "\n" for n in map(os.fsdecode, names))
        if status:
            with open(os.path.join(self.dir, "status"), "w") as f:
                f.write(str(status))
        xtest.replace_file(os.path.join(self.dir, "answer"), os.fsencode(data))
        xtest.wait_for(lambda: not os.path.exists(os.path.join(self.dir, "answer")),
                       what="the chooser to take its answer")

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def pkg_tree(names):
    """A temporary folder holding the given files (relative names); returns
    the folder's real path."""
    root = os.path.realpath(tempfile.mkdtemp(prefix="orbex-pkgs-"))
    for name in names:
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"\x7fCNT fake package\n")
    return root


def settled_window(program, timeout=30.0):
    return xtest.wait_window(pid=program.pid, timeout=timeout)


def park_mouse(wid):
    """Moves the pointer to an empty corner, so that no button shows hovered."""
    xtest.xdotool("mousemove", "--window", str(wid), "712", "395")
    time.sleep(0.1)


def click(wid, point):
    xtest.click(wid, *point)
    time.sleep(0.1)


def region_colours(png, x, y, w, h):
    """All RGB values in a rectangle of a PNG file."""
    out = xtest.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                     "-depth", "8", "txt:-"])
    colours = []
    for line in out.splitlines():
        if line.startswith("#"):
            continue
        hexpart = line.split("#", 1)[1][:6]
        colours.append(tuple(int(hexpart[i:i + 2], 16) for i in (0, 2, 4)))
    return colours


def has_colour(png, box, colour, tolerance=4):
    return any(xtest.colour_close(c, colour, tolerance) for c in region_colours(png, *box))


class Shots:
    """Screenshots of one window, removed at the end."""

    def __init__(self, wid):
        self.wid = wid
        self.files = []

    def take(self):
        path = xtest.screenshot(self.wid)
        self.files.append(path)
        return path

    def wait_until(self, predicate, what, timeout=10.0):
        """Takes screenshots until predicate(png) holds."""
        return xtest.wait_for(lambda: predicate(self.take()), timeout, interval=0.1, what=what)

    def cleanup(self):
        for f in self.files:
            if os.path.exists(f):
                os.remove(f)


def same_picture(a, b):
    """Whether two PNG files show exactly the same pixels."""
    r = subprocess.run(["compare", "-metric", "AE", a, b, "null:"], capture_output=True, text=True)
    return r.returncode == 0


def notice_box(layout):
    return (8, layout.notice_y - 8, 400, 16)


def children(pid):
    """Process ids of a process's children."""
    r = subprocess.run(["pgrep", "-P", str(pid)], capture_output=True, text=True)
    return [int(p) for p in r.stdout.split()]
