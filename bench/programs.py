#!/usr/bin/env python3
"""Whole-program figures of orbex-setup and Morvane, measured from outside
on a running X server (DISPLAY), and printed as JSON:

  setup_first_frame_ms      orbex-setup started until its first presented
                            frame is on screen, without a background picture
  setup_first_frame_bg_ms   the same with a 4096 x 4096 background picture
  setup_idle_cpu            CPU time (user + system) that the progress
                            screen takes in 10 s of idling
  setup_peak_kb             VmHWM of the progress screen, no picture
  setup_peak_bg_kb          VmHWM of the progress screen, 4096 x 4096 picture
  morvane_window_ms         the host listening until Morvane's window is mapped
  morvane_page_ms           the host listening until its page is on screen

A frame counts as presented when a pixel of the window, away from any text,
shows the colour the tool paints there: the plum clear colour under its two
veils, or the picture under them. The pixel is read straight from the X
server (XGetImage) every millisecond or so, through Xlib by ctypes, so the
figure is not rounded up to the time a screenshot tool takes.

Usage: programs.py BUILD_DIR [--runs N]
"""
import argparse
import ctypes
import json
import os
import random
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PLUM = (33, 15, 31)
PAGE_GREEN = (32, 160, 96)  # the page bench_host.py serves
SIDE = 4096


# --- reading the X server -------------------------------------------------

class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFFFFFFFFFF


class X:
    """The few Xlib calls the measurements need."""

    def __init__(self):
        lib = ctypes.CDLL("libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                           ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                           ctypes.POINTER(ctypes.c_void_p)]
        lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetPixel.restype = ctypes.c_ulong
        lib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        lib.XDestroyImage.argtypes = [ctypes.c_void_p]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.lib = lib
        # A window can vanish between two calls (SDL replaces its first one);
        # the resulting errors are expected and ignored.
        self._handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
        lib.XSetErrorHandler(self._handler)
        self.display = lib.XOpenDisplay(None)
        if not self.display:
            raise SystemExit("programs.py: cannot open the X display")
        self.root = lib.XDefaultRootWindow(self.display)
        self.pid_atom = lib.XInternAtom(self.display, b"_NET_WM_PID", 0)

    def toplevels(self):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not self.lib.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                                   ctypes.byref(children), ctypes.byref(count)):
            return []
        found = [children[i] for i in range(count.value)]
        if children:
            self.lib.XFree(children)
        return found

    def pid_of(self, window):
        kind, fmt, items, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        status = self.lib.XGetWindowProperty(self.display, window, self.pid_atom, 0, 1, 0, 0, ctypes.byref(kind),
                                             ctypes.byref(fmt), ctypes.byref(items), ctypes.byref(after),
                                             ctypes.byref(data))
        pid = None
        if status == 0 and data.value:
            if items.value == 1 and fmt.value == 32:
                pid = ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[0]
            self.lib.XFree(data)
        return pid

    def name_of(self, window):
        name = ctypes.c_char_p()
        if self.lib.XFetchName(self.display, window, ctypes.byref(name)) and name.value is not None:
            text = name.value.decode("utf-8", "replace")
            self.lib.XFree(ctypes.cast(name, ctypes.c_void_p))
            return text
        return None

    def viewable(self, window):
        """(width, height) of a mapped, viewable window, else None."""
        attributes = XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return None
        if attributes.map_state != IS_VIEWABLE:
            return None
        return attributes.width, attributes.height

    def pixel(self, window, x, y):
        image = self.lib.XGetImage(self.display, window, x, y, 1, 1, ALL_PLANES, Z_PIXMAP)
        if not image:
            return None
        value = self.lib.XGetPixel(image, 0, 0)
        self.lib.XDestroyImage(image)
        return (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF

    def windows_of(self, pid):
        """The viewable top-level windows of a process, with their sizes."""
        found = []
        for window in self.toplevels():
            if self.pid_of(window) == pid:
                size = self.viewable(window)
                if size:
                    found.append((window, size))
        return found


def close(colour, expected, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def poll(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.0005)
    raise SystemExit(f"programs.py: timed out waiting for {what}")


def blend(dst, src, alpha):
    return tuple(s * alpha / 255 + d * (1 - alpha / 255) for d, s in zip(dst, src))


def veiled(colour):
    return blend(blend(colour, (27, 9, 27), 135), (24, 7, 24), 125)


# --- orbex-setup ------------------------------------------------------------

def picture_colour(x, y):
    """The 4096 x 4096 picture: smooth ramps, so that the colour the tool
    shows at a point is known within a few steps."""
    return (x * 255 // (SIDE - 1), y * 255 // (SIDE - 1), 128)


def write_picture(path):
    """A 4096 x 4096 RGBA PNG of picture_colour with fine grain in the low
    bits, like painted artwork, written with zlib."""
    red = bytes(picture_colour(x, 0)[0] for x in range(SIDE))
    grain = random.Random(4096).randbytes(SIDE * 4).translate(bytes(b & 0x03 for b in range(256)))
    packer = zlib.compressobj(6)
    parts = []
    row = bytearray(SIDE * 4)
    row[0::4] = red
    row[2::4] = bytes([128]) * SIDE
    row[3::4] = bytes([255]) * SIDE
    for y in range(SIDE):
        row[1::4] = bytes([picture_colour(0, y)[1]]) * SIDE
        shift = (y * 4 * 7) % len(grain)
        noise = grain[shift:] + grain[:shift]
        mixed = (int.from_bytes(row, "big") ^ int.from_bytes(noise, "big")).to_bytes(len(row), "big")
        parts.append(packer.compress(b"\x00" + mixed))
    parts.append(packer.flush())
    stream = b"".join(parts)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIDE, SIDE, 8, 6, 0, 0, 0)))
        for at in range(0, len(stream), 1 << 20):
            f.write(chunk(b"IDAT", stream[at:at + (1 << 20)]))
        f.write(chunk(b"IEND", b""))


class Setup:
    def __init__(self, build, work):
        self.folder = os.path.join(work, "setup")
        os.makedirs(os.path.join(self.folder, "bin", "assets", "fonts"))
        self.exe = os.path.join(self.folder, "bin", "orbex-setup")
        # A copy of its own, so that no picture lying beside the build is found.
        shutil.copy2(os.path.join(build, "setup", "orbex-setup"), self.exe)
        if os.path.exists(FONT):
            shutil.copy2(FONT, os.path.join(self.folder, "bin", "assets", "fonts"))
        self.status = os.path.join(self.folder, "status")
        with open(self.status, "w") as f:
            f.write("working\t2\t5\tCopying game files\n")
        self.picture = os.path.join(self.folder, "overlay-4096.png")
        write_picture(self.picture)

    def start(self, picture):
        env = dict(os.environ)
        env.pop("ORBEX_OVERLAY_BACKGROUND", None)
        if picture:
            env["ORBEX_OVERLAY_BACKGROUND"] = self.picture
        return subprocess.Popen([self.exe, "--mode", "progress", self.status], env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)


def first_frame(x, program, picture, started):
    """Seconds from `started` until the window shows a presented frame."""
    def shown():
        for window, (width, height) in x.windows_of(program.pid):
            # Bottom right, clear of the screen's text.
            px, py = width - 20, height - 20
            colour = x.pixel(window, px, py)
            if colour is None:
                continue
            if picture:
                # Cover fit of a square picture into a wider window: the
                # picture's full width, its middle rows.
                scale = width / SIDE
                expected = veiled(picture_colour(int(px / scale), int((SIDE - height / scale) / 2 + py / scale)))
                if close(colour, expected, 8):
                    return time.monotonic()
            elif close(colour, veiled(PLUM), 2):
                return time.monotonic()
        if program.poll() is not None:
            raise SystemExit(f"programs.py: orbex-setup ended with {program.returncode}")
        return None
    return poll(shown, 30, "the first frame of orbex-setup") - started


def proc_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime, the 14th and 15th fields of the whole line.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def end(program):
    program.send_signal(signal.SIGTERM)  # a quit request, as the caller ends it
    try:
        program.wait(10)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()


def measure_setup(x, setup, runs, idle_seconds):
    results = {}
    for picture, key in ((False, "setup_first_frame_ms"), (True, "setup_first_frame_bg_ms")):
        times, peaks = [], []
        for _ in range(runs):
            started = time.monotonic()
            program = setup.start(picture)
            try:
                times.append(first_frame(x, program, picture, started) * 1000)
                time.sleep(1.0)
                peaks.append(peak_kb(program.pid))
            finally:
                end(program)
        results[key] = times
        results["setup_peak_bg_kb" if picture else "setup_peak_kb"] = peaks

    program = setup.start(False)
    try:
        first_frame(x, program, False, time.monotonic())
        time.sleep(1.0)
        before = proc_cpu_seconds(program.pid)
        wall = time.monotonic()
        time.sleep(idle_seconds)
        used = proc_cpu_seconds(program.pid) - before
        results["setup_idle_cpu"] = {"cpu_s": used, "wall_s": time.monotonic() - wall}
    finally:
        end(program)
    return results


# --- Morvane ------------------------------------------------------------------

class Archive:
    """Morvane's folder laid out as the unpacked archive, with the timing
    stand-in as its host and the running Python as the archive's own."""

    def __init__(self, build, work):
        self.root = os.path.join(work, "morvane")
        self.game = os.path.join(self.root, "game")
        os.makedirs(os.path.join(self.game, "morvane"))
        os.makedirs(os.path.join(self.game, "python", "bin"))
        shutil.copy2(os.path.join(build, "launcher", "Morvane"), self.game)
        os.symlink(os.path.join(build, "launcher", "libwebview-x64.so"),
                   os.path.join(self.game, "libwebview-x64.so"))
        shutil.copy2(os.path.join(HERE, "bench_host.py"), os.path.join(self.game, "morvane", "launcher_host.py"))
        os.symlink(os.path.realpath(sys.executable), os.path.join(self.game, "python", "bin", "python3"))
        self.record = os.path.join(self.root, "listening")
        self.close_tool = os.path.join(build, "tests", "x-close-request")

    def run_once(self, x):
        for stale in (self.record, os.path.join(self.game, "launcher.port")):
            if os.path.exists(stale):
                os.remove(stale)
        env = dict(os.environ, GDK_BACKEND="x11", LANG="C.UTF-8", ORBEX_BENCH_HOST_RECORD=self.record)
        program = subprocess.Popen([os.path.join(self.game, "Morvane")], cwd=self.root, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            def mapped():
                for window, size in x.windows_of(program.pid):
                    if size[0] > 200 and x.name_of(window) == "Morvane":
                        return time.monotonic(), window, size
                if program.poll() is not None:
                    raise SystemExit(f"programs.py: Morvane ended with {program.returncode}")
                return None
            shown_at, window, (width, height) = poll(mapped, 60, "Morvane's window")

            def page():
                colour = x.pixel(window, width // 2, height - 40)
                return time.monotonic() if colour and close(colour, PAGE_GREEN, 6) else None
            page_at = poll(page, 60, "the host's page")
            with open(self.record) as f:
                listening = float(f.read())
            subprocess.run([self.close_tool, str(window)], check=True)
            program.wait(15)
            return (shown_at - listening) * 1000, (page_at - listening) * 1000
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()


def measure_morvane(x, archive, runs):
    window, page = [], []
    for _ in range(runs):
        shown, drawn = archive.run_once(x)
        window.append(shown)
        page.append(drawn)
    return {"morvane_window_ms": window, "morvane_page_ms": page}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder (holds setup/, launcher/, tests/)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        raise SystemExit("programs.py: needs an X server (DISPLAY)")
    x = X()
    work = tempfile.mkdtemp(prefix="orbex-bench-")
    try:
        results = {"runs": args.runs, "idle_seconds": args.idle_seconds}
        results.update(measure_setup(x, Setup(args.build, work), args.runs, args.idle_seconds))
        results.update(measure_morvane(x, Archive(args.build, work), args.runs))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for key, value in list(results.items()):
        if isinstance(value, list):
            results[key] = {"median": statistics.median(value), "min": min(value), "max": max(value),
                            "all": value}
    json.dump(results, sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()
