"""Helpers for end-to-end tests that drive real windows on the test X server,
and for the programs they run: exact window captures, typing, folders watched
for stray writes, and runs whose every ending is checked (exit code, no
signal, time bound).

The X server is the one scripts/test.sh starts (DISPLAY). There is no window
manager on it: windows are focused with `xdotool windowfocus` and asked to close
with a WM_DELETE_WINDOW client message (tools/x_close_request.c).
"""
import os
import shutil
import signal
import stat
import subprocess
import tempfile
import time

X_CLOSE_REQUEST = os.environ.get("ORBEX_X_CLOSE_REQUEST", "x-close-request")
SETUP_BIN = os.environ.get("ORBEX_SETUP_BIN", "orbex-setup")
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def check(condition, what):
    if not condition:
        raise AssertionError(what)


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


def type_text(wid, text, delay=5):
    """Types text into the window, one key each `delay` milliseconds."""
    focus(wid)
    xdotool("type", "--delay", str(delay), "--window", str(wid), text)


def type_slowly(wid, text):
    """Types keys that KeysFor lent, slowly enough that none gets lost."""
    type_text(wid, text, delay=40)


def key(wid, *keys):
    focus(wid)
    xdotool("key", "--window", str(wid), *keys)


def screenshot(wid=None, path=None):
    """Captures a window (or the whole screen) to a PNG file; returns its path."""
    made = path is None
    if made:
        fd, path = tempfile.mkstemp(suffix=".png", prefix="orbex-shot-")
        os.close(fd)
    target = str(wid) if wid is not None else "root"
    # import waits for a mouse click when the window is gone; never let it.
    try:
        subprocess.run(["import", "-window", target, path], check=True,
                       capture_output=True, timeout=20)
    except BaseException:
        if made:
            os.unlink(path)
        raise
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


def capture(wid):
    """The window's pixels, exactly, as a PPM image."""
    return subprocess.run(["import", "-window", str(wid), "-depth", "8", "ppm:-"], check=True,
                          capture_output=True, timeout=20).stdout


def read_ppm(ppm):
    """(width, height, RGB bytes row by row) of a PPM image from capture()."""
    fields, pos = [], 0
    while len(fields) < 4:  # P6, width, height, maxval
        while ppm[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    return int(fields[1]), int(fields[2]), ppm[pos + 1:]


def ppm_pixel(ppm, x, y):
    """(r, g, b) of a PPM image from capture()."""
    width, _, data = read_ppm(ppm)
    at = (y * width + x) * 3
    return tuple(data[at:at + 3])


def pixel(png, x, y):
    return pixels(png, [(x, y)])[0]


def window_icon_argb(wid):
    """The images of a window's _NET_WM_ICON as {size: [argb, ...]}."""
    out = run(["xprop", "-id", str(wid), "-notype", "-f", "_NET_WM_ICON", "32c", "_NET_WM_ICON"])
    check("=" in out, f"window {wid} has no icon")
    values = [int(v) & 0xFFFFFFFF for v in out.split("=", 1)[1].split(",")]
    images = {}
    while len(values) >= 2:
        width, height = values[0], values[1]
        images.setdefault(width, values[2:2 + width * height])
        values = values[2 + width * height:]
    return images


def png_argb(path):
    """The pixels of a picture file as ARGB values, row by row."""
    raw = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], check=True,
                         capture_output=True).stdout
    return [(raw[i + 3] << 24) | (raw[i] << 16) | (raw[i + 1] << 8) | raw[i + 2]
            for i in range(0, len(raw), 4)]


def blend(dst, src, alpha):
    """src drawn over dst with alpha from 0 to 255."""
    return tuple(s * alpha / 255 + d * (1 - alpha / 255) for d, s in zip(dst, src))


def veiled(colour):
    """A colour as it shows under orbex-setup's two translucent veils."""
    return blend(blend(colour, (27, 9, 27), 135), (24, 7, 24), 125)


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


def copy_setup(folder, font=False):
    """orbex-setup copied to folder/bin, so that what it looks for beside its
    own file (the background picture, the font) is only what the test lays
    there; with font, DejaVu Sans as its font. Returns the copy's path."""
    bin_dir = os.path.join(folder, "bin")
    os.makedirs(os.path.join(bin_dir, "assets", "fonts") if font else bin_dir)
    exe = os.path.join(bin_dir, "orbex-setup")
    shutil.copy2(SETUP_BIN, exe)
    if font and os.path.exists(FONT):
        shutil.copy2(FONT, os.path.join(bin_dir, "assets", "fonts", "DejaVuSans.ttf"))
    return exe


def setup_program(*args, **kw):
    """Starts orbex-setup with the given arguments."""
    return Program([SETUP_BIN, *args], **kw)


def ended(program, timeout, what):
    """The exit code of a program that must end on its own within timeout;
    a hang or a death by signal fails."""
    try:
        code = program.proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        program.kill()
        raise AssertionError(f"{what}: still running after {timeout} s")
    check(code >= 0, f"{what}: killed by signal {-code}\n{program.stderr()}")
    return code


def one_gives_way(one, other, timeout):
    """Of two starts of a program that allows one at a time: the one that
    ended, which must have ended with 0, and the one that goes on."""
    ended = wait_for(lambda: [p for p in (one, other) if not p.running()], timeout=timeout,
                     what="one of the two starts to end")
    code = ended[0].wait()
    check(code == 0, f"the start that gave way: exit code {code}, expected 0")
    return ended[0], other if ended[0] is one else one


def alive(program, what):
    check(program.running(), f"{what}: the program ended (code {program.proc.poll()})\n{program.stderr()}")


def raw_stdout(program):
    program.out.seek(0)
    return program.out.read()


def raw_stderr(program):
    program.err.seek(0)
    return program.err.read()


def own_lines(program):
    """Standard error without FFmpeg's own log lines ("[png @ 0x...] ...")."""
    return [line for line in raw_stderr(program).split(b"\n") if line and not line.startswith(b"[")]


def wait_line(program, predicate, timeout, what):
    """Waits until a line of standard error satisfies predicate."""
    def found():
        alive(program, what)
        return any(predicate(line) for line in own_lines(program))
    wait_for(found, timeout=timeout, interval=0.02, what=what)


def peak_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def settle(seconds=0.12):
    """Long enough for several frames (each ends with a 16 ms pause)."""
    time.sleep(seconds)


def temp_folder(prefix):
    return os.fsencode(os.path.realpath(tempfile.mkdtemp(prefix=prefix)))


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def replace_file(path, data):
    """Writes a whole new file in place of `path` in one step, so that a
    reader sees either the old or the new file, never half of it."""
    path = os.fsencode(path)
    temp = path + b".new"
    write_bytes(temp, data)
    os.replace(temp, path)


class Snapshot:
    """Every entry under a folder with what it is and when it last changed;
    comparing two tells what a run created, removed or touched."""

    def __init__(self, root):
        self.root = root
        self.entries = {}
        for folder, dirs, files in os.walk(root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                st = os.lstat(path)
                self.entries[path] = (stat.S_IFMT(st.st_mode), st.st_size, st.st_mtime_ns, st.st_ino)

    def differences(self, later):
        found = []
        for path in sorted(set(self.entries) | set(later.entries)):
            if self.entries.get(path) != later.entries.get(path):
                found.append((path, self.entries.get(path), later.entries.get(path)))
        return found


def check_unchanged(before, what):
    after = Snapshot(before.root)
    diff = before.differences(after)
    check(not diff, f"{what}: files created, removed or changed: {diff}")


class KeysFor:
    """Gives each non-ASCII character of a text a key of its own on the X
    server's keyboard while in use, as a keyboard with those letters has.
    xdotool otherwise lends a spare key to such a character for one press and
    takes it back at once, and a program that reads the keyboard map a moment
    later sees no character at all. Even so, such keys pressed faster than
    a few a frame get lost on the way: type them with type_slowly()."""

    def __init__(self, text):
        import ctypes
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        self.ctypes = ctypes
        self.display = self.x.XOpenDisplay(None)
        check(self.display, "cannot open the X display")
        self.chars = sorted({c for c in text if ord(c) > 0x7e})
        self.codes = []

    def __enter__(self):
        c = self.ctypes
        low, high = c.c_int(), c.c_int()
        self.x.XDisplayKeycodes(c.c_void_p(self.display), c.byref(low), c.byref(high))
        per = c.c_int()
        count = high.value - low.value + 1
        table = self.x.XGetKeyboardMapping(c.c_void_p(self.display), c.c_ubyte(low.value), count, c.byref(per))
        free = [low.value + i for i in range(count)
                if all(table[i * per.value + j] == 0 for j in range(per.value))]
        self.x.XFree(table)
        check(len(free) >= len(self.chars), "no spare keys on the X keyboard")
        for char, code in zip(self.chars, reversed(free)):
            keysym = ord(char) if ord(char) <= 0xff else 0x1000000 | ord(char)
            syms = (c.c_ulong * 2)(keysym, keysym)
            self.x.XChangeKeyboardMapping(c.c_void_p(self.display), code, 2, syms, 1)
            self.codes.append(code)
        self.x.XSync(c.c_void_p(self.display), 0)
        time.sleep(0.2)  # programs take the new map from the server's notice
        return self

    def __exit__(self, *exc):
        c = self.ctypes
        for code in self.codes:
            syms = (c.c_ulong * 2)(0, 0)
            self.x.XChangeKeyboardMapping(c.c_void_p(self.display), code, 2, syms, 1)
        self.x.XSync(c.c_void_p(self.display), 0)
        self.x.XCloseDisplay(c.c_void_p(self.display))
        return False
