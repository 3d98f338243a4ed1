#!/usr/bin/env python3
"""Whole-program figures of orbex-setup and Morvane, each beside a reference
measured in the same run, alternating run by run, printed as JSON:

  setup_first_frame_ms      orbex-setup started until its first presented
                            frame is on screen, without a background picture
  zenity_first_frame_ms     `zenity --progress` started until its first paint
  imgui_first_frame_ms      Dear ImGui's own example_sdl3_sdlrenderer3
                            started until its first presented frame
  *_idle_cpu_percent        CPU time (user + system) over 10 s of idling,
                            in percent of one core, for the three above
  *_peak_kb                 their VmHWM by the end of that idling
  setup_first_frame_bg_ms   orbex-setup with a 4096 x 4096 background picture
  setup_peak_bg_kb          its VmHWM
  morvane_window_ms         the host listening until Morvane's window is mapped
  morvane_page_ms           the host listening until its page is on screen
  webview_page_ms           a bare window of the same webview library started,
                            the host already listening, until the page is on
                            screen
  intake_<N>_first_s        one pick of N existing packages taken by our
  intake_<N>_again_s        intake (bench_intake), into an empty selection
                            and again with the same names chosen; natively
  wine_intake_<N>_*         and, built for Windows, under Wine
  list_<N>_cpu_percent      orbex-setup's DLC screen idling with N packages
                            chosen (3 and 10,000), CPU as above
  list_<N>_shown_ms         the zenity stand-in answering N names until the
                            screen shows them chosen

The references are built here into the temporary folder from the sources the
build used (Dear ImGui, SDL3, the webview library), never kept.

A frame counts as presented when a pixel of the window, away from any text,
shows the colour the program paints there: the plum clear colour under its
two veils, the picture under them, the example's clear colour, or zenity's
window background. The pixel is read straight from the X server (XGetImage)
every millisecond or so, through Xlib by ctypes, so the figure is not rounded
up to the time a screenshot tool takes.

Usage: programs.py BUILD_DIR WINDOWS_BUILD_DIR [--runs N]
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
TESTS = os.path.join(HERE, "..", "tests")
TEST_HOST = os.path.join(TESTS, "launcher", "test_host.py")
WINDOWS_DIST = os.path.join(HERE, "..", "dist", "windows")
# The selection screen is driven as its tests drive it, and Wine is held as
# its tests hold it.
sys.path[:0] = [os.path.join(TESTS, "e2e"), os.path.join(TESTS, "picker"), os.path.join(TESTS, "windows")]
import pickertest  # noqa: E402
import winetest  # noqa: E402
import xtest  # noqa: E402
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PLUM = (33, 15, 31)
PAGE_GREEN = (32, 160, 96)  # the page test_host.py serves
IMGUI_CLEAR = (115, 140, 153)  # the example's clear colour, 0.45 0.55 0.60
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


def painted_when(x, program, started, painted, what):
    """Seconds from `started` until painted(colour, width, height, px, py)
    holds for the pixel 20 px in from the bottom-right corner of a window of
    the program, clear of any text."""
    def shown():
        for window, (width, height) in x.windows_of(program.pid):
            if width < 100 or height < 100:
                continue
            px, py = width - 20, height - 20
            colour = x.pixel(window, px, py)
            if colour is not None and painted(colour, width, height, px, py):
                return time.monotonic()
        if program.poll() is not None:
            raise SystemExit(f"programs.py: {what} ended with {program.returncode}")
        return None
    return poll(shown, 30, f"the first frame of {what}") - started


def setup_painted(picture):
    def painted(colour, width, height, px, py):
        if not picture:
            return close(colour, veiled(PLUM), 2)
        # Cover fit of a square picture into a wider window: the picture's
        # full width, its middle rows.
        scale = width / SIDE
        expected = veiled(picture_colour(int(px / scale), int((SIDE - height / scale) / 2 + py / scale)))
        return close(colour, expected, 8)
    return painted


def background_painted(colour, width, height, px, py):
    """A window's light theme background (zenity's GTK), whatever its exact shade."""
    return all(c >= 200 for c in colour) and max(colour) - min(colour) <= 12


def imgui_painted(colour, width, height, px, py):
    return close(colour, IMGUI_CLEAR, 2)


def proc_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime, the 14th and 15th fields of the whole line.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def idle_cpu_percent(pid, seconds):
    """CPU time the process takes over the next `seconds`, in percent of a core."""
    before = proc_cpu_seconds(pid)
    wall = time.monotonic()
    time.sleep(seconds)
    return 100 * (proc_cpu_seconds(pid) - before) / (time.monotonic() - wall)


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


class Dialogs:
    """orbex-setup's progress screen and the two programs it is weighed
    against: zenity's progress dialog and Dear ImGui's bare SDL3 example."""

    def __init__(self, setup, references):
        self.setup = setup
        self.references = references
        self.zenity_input = None

    def start(self, name):
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if name == "setup":
            return self.setup.start(False), setup_painted(False)
        if name == "imgui":
            # In its own folder: the example writes imgui.ini where it runs.
            return subprocess.Popen([self.references.imgui_example], cwd=os.path.dirname(
                self.references.imgui_example), **quiet), imgui_painted
        # zenity reads its progress from standard input: an open pipe on
        # which nothing comes keeps it idling, as an installer between two
        # steps would.
        read_end, self.zenity_input = os.pipe()
        program = subprocess.Popen(["zenity", "--progress", "--title=Vantorra", "--text=Copying game files",
                                    "--percentage=40"], stdin=read_end, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        os.close(read_end)
        return program, background_painted

    def stop(self, program):
        end(program)
        if self.zenity_input is not None:
            os.close(self.zenity_input)
            self.zenity_input = None


def measure_dialogs(x, dialogs, runs, idle_seconds):
    """First frame, then idle CPU and peak memory over idle_seconds, of the
    three programs in turn, run after run."""
    results = {}
    for _ in range(runs):
        for name in ("setup", "zenity", "imgui"):
            started = time.monotonic()
            program, painted = dialogs.start(name)
            try:
                results.setdefault(f"{name}_first_frame_ms", []).append(
                    painted_when(x, program, started, painted, name) * 1000)
                time.sleep(1.0)
                results.setdefault(f"{name}_idle_cpu_percent", []).append(
                    idle_cpu_percent(program.pid, idle_seconds))
                results.setdefault(f"{name}_peak_kb", []).append(peak_kb(program.pid))
            finally:
                dialogs.stop(program)
    return results


def measure_background(x, setup, runs):
    times, peaks = [], []
    for _ in range(runs):
        started = time.monotonic()
        program = setup.start(True)
        try:
            times.append(painted_when(x, program, started, setup_painted(True), "orbex-setup") * 1000)
            time.sleep(1.0)
            peaks.append(peak_kb(program.pid))
        finally:
            end(program)
    return {"setup_first_frame_bg_ms": times, "setup_peak_bg_kb": peaks}


LONG_LIST = 10000
INTAKE_COUNTS = (LONG_LIST,)
WINE_INTAKE_COUNTS = (300, 2000)


def intake_figures(command, env, cwd, key):
    """bench_intake's medians for one count, as {key_first_s, key_again_s}."""
    done = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=1800)
    if done.returncode != 0:
        sys.stderr.write(done.stderr)
        raise SystemExit(f"programs.py: {' '.join(command)} ended with {done.returncode}")
    figures = json.loads(done.stdout)
    return {f"{key}_first_s": [figures["first_s"]], f"{key}_again_s": [figures["again_s"]]}


def measure_intake(build, windows_build, work, runs):
    """One pick of many packages through our intake, natively and under Wine
    (the Windows build beside the SDL3.dll it imports, in the shared prefix)."""
    results = {}
    native = os.path.join(build, "bench", "bench_intake")
    for count in INTAKE_COUNTS:
        results.update(intake_figures([native, str(count), str(runs)], None, work, f"intake_{count}"))
    folder = os.path.join(work, "wine-intake")
    os.makedirs(folder)
    exe = shutil.copy2(os.path.join(windows_build, "bench", "bench_intake.exe"), folder)
    shutil.copy2(os.path.join(WINDOWS_DIST, "SDL3.dll"), folder)
    with winetest.Session() as session:
        for count in WINE_INTAKE_COUNTS:
            results.update(intake_figures([winetest.WINE, exe, str(count), str(runs)], session.env, folder,
                                          f"wine_intake_{count}"))
    return results


def chosen_list_once(x, setup, names, idle_seconds):
    """orbex-setup's DLC screen given `names` by the zenity stand-in: (ms from
    the answer until the accept button shows enabled, CPU percent of a core
    while idling). Accepting afterwards must print every name."""
    zenity = pickertest.FakeZenity()
    program = xtest.Program([setup.exe, "--mode", "dlc"], env=zenity.env(start_dir=os.path.dirname(names[0])))
    try:
        wid = pickertest.settled_window(program)
        pickertest.click(wid, pickertest.Layout().select)
        zenity.call(0)
        chosen = pickertest.Layout(chosen=len(names))
        started = time.monotonic()
        zenity.answer(names)
        poll(lambda: close(x.pixel(wid, *chosen.accept_fill) or (0, 0, 0), pickertest.BUTTON, 6), 600,
             "the pick to be taken")
        shown_ms = (time.monotonic() - started) * 1000
        pickertest.park_mouse(wid)
        time.sleep(1.0)
        cpu = idle_cpu_percent(program.pid, idle_seconds)
        pickertest.click(wid, chosen.accept)
        code = xtest.ended(program, 60, "orbex-setup")
        printed = program.stdout().splitlines()
        if code != 0 or sorted(printed) != sorted(names):
            raise SystemExit(f"programs.py: orbex-setup ended with {code} and printed {len(printed)} "
                             f"of {len(names)} names")
        return shown_ms, cpu
    finally:
        program.close()
        zenity.cleanup()


def measure_chosen_list(x, setup, runs, idle_seconds):
    """The DLC screen idling with 3 and with LONG_LIST packages chosen, run
    after run."""
    root = pickertest.pkg_tree([f"pk/{i:05}.pkg" for i in range(LONG_LIST)])
    names = [os.path.join(root, "pk", f"{i:05}.pkg") for i in range(LONG_LIST)]
    results = {}
    try:
        for _ in range(runs):
            for count in (3, LONG_LIST):
                shown_ms, cpu = chosen_list_once(x, setup, names[:count], idle_seconds)
                results.setdefault(f"list_{count}_shown_ms", []).append(shown_ms)
                results.setdefault(f"list_{count}_cpu_percent", []).append(cpu)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return results


# --- references ---------------------------------------------------------------

def cmake_cache(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.rstrip("\n").split("=", 1)[1]
    raise SystemExit(f"programs.py: {name} is not in {build}/CMakeCache.txt")


def compile_all(commands):
    """Runs the compiler commands side by side; stops at the first failure."""
    running = [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) for c in commands]
    for command, process in zip(commands, running):
        _, errors = process.communicate()
        if process.returncode != 0:
            sys.stderr.write(errors.decode(errors="replace"))
            raise SystemExit(f"programs.py: could not build a reference: {' '.join(command)}")


class References:
    """The reference programs, built from the same Dear ImGui, SDL3 and
    webview library as ours, at the optimisation of our build (-O2)."""

    def __init__(self, build, work):
        folder = os.path.join(work, "references")
        os.makedirs(folder)
        imgui = cmake_cache(build, "ORBEX_IMGUI_DIR")
        sdl3 = cmake_cache(build, "ORBEX_SDL3_PREFIX")
        sources = [os.path.join(imgui, name) for name in
                   ("imgui.cpp", "imgui_draw.cpp", "imgui_tables.cpp", "imgui_widgets.cpp", "imgui_demo.cpp",
                    "backends/imgui_impl_sdl3.cpp", "backends/imgui_impl_sdlrenderer3.cpp",
                    "examples/example_sdl3_sdlrenderer3/main.cpp")]
        objects = [os.path.join(folder, f"{i}.o") for i in range(len(sources))]
        compile_all([["c++", "-O2", "-c", source, "-o", obj, "-I", imgui, "-I", os.path.join(imgui, "backends"),
                      "-I", os.path.join(sdl3, "include")] for source, obj in zip(sources, objects)])
        self.imgui_example = os.path.join(folder, "example_sdl3_sdlrenderer3")
        sdl3_lib = os.path.join(sdl3, "lib")
        compile_all([["c++", *objects, "-o", self.imgui_example, "-L", sdl3_lib, "-lSDL3",
                      f"-Wl,-rpath,{sdl3_lib}"]])
        # Linked to the library laid beside Morvane, as a program linked to it
        # would be: the system's loader brings it in before main.
        # The program names the library by its SONAME, found through its run
        # path in the references' folder.
        self.bare_webview = os.path.join(folder, "bare_webview")
        library = os.path.join(build, "launcher", "libwebview-x64.so")
        dynamic = subprocess.run(["readelf", "-d", library], capture_output=True, text=True, check=True).stdout
        soname = dynamic.split("Library soname: [", 1)[1].split("]", 1)[0]
        os.symlink(library, os.path.join(folder, soname))
        compile_all([["cc", "-O2", os.path.join(HERE, "bare_webview.c"), "-o", self.bare_webview, library,
                      f"-Wl,-rpath,{folder}"]])


# --- Morvane ------------------------------------------------------------------

def browser_env(**extra):
    return dict(os.environ, GDK_BACKEND="x11", LANG="C.UTF-8", **extra)


def page_on_screen(x, program, what):
    """(mapped, page shown, window): the moments a window of the program
    called "Morvane" is mapped and shows the host's page."""
    def mapped():
        for window, size in x.windows_of(program.pid):
            if size[0] > 200 and x.name_of(window) == "Morvane":
                return time.monotonic(), window, size
        if program.poll() is not None:
            raise SystemExit(f"programs.py: {what} ended with {program.returncode}")
        return None
    shown_at, window, (width, height) = poll(mapped, 60, f"the window of {what}")

    def page():
        colour = x.pixel(window, width // 2, height - 40)
        return time.monotonic() if colour and close(colour, PAGE_GREEN, 6) else None
    return shown_at, poll(page, 60, f"the host's page in {what}"), window


class Archive:
    """Morvane's folder laid out as the unpacked archive, with the test host
    as its host and the running Python as the archive's own; and a folder
    for the bare webview window's host."""

    def __init__(self, build, work, references):
        self.root = os.path.join(work, "morvane")
        self.game = os.path.join(self.root, "game")
        os.makedirs(os.path.join(self.game, "morvane"))
        os.makedirs(os.path.join(self.game, "python", "bin"))
        shutil.copy2(os.path.join(build, "launcher", "Morvane"), self.game)
        os.symlink(os.path.join(build, "launcher", "libwebview-x64.so"),
                   os.path.join(self.game, "libwebview-x64.so"))
        shutil.copy2(TEST_HOST, os.path.join(self.game, "morvane", "launcher_host.py"))
        os.symlink(os.path.realpath(sys.executable), os.path.join(self.game, "python", "bin", "python3"))
        self.record = os.path.join(self.root, "listening")
        self.close_tool = os.path.join(build, "tests", "x-close-request")
        self.bare = references.bare_webview
        self.bare_folder = os.path.join(work, "bare-host")
        os.makedirs(self.bare_folder)

    def close(self, program, window):
        subprocess.run([self.close_tool, str(window)], check=True)
        program.wait(15)

    def morvane_once(self, x):
        for stale in (self.record, os.path.join(self.game, "launcher.port")):
            if os.path.exists(stale):
                os.remove(stale)
        program = subprocess.Popen([os.path.join(self.game, "Morvane")], cwd=self.root,
                                   env=browser_env(ORBEX_TEST_HOST_LISTENING=self.record),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            shown_at, page_at, window = page_on_screen(x, program, "Morvane")
            with open(self.record) as f:
                listening = float(f.read())
            self.close(program, window)
            return (shown_at - listening) * 1000, (page_at - listening) * 1000
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()

    def bare_once(self, x):
        """The bare window started once the same host already listens."""
        port_file = os.path.join(self.bare_folder, "launcher.port")
        if os.path.exists(port_file):
            os.remove(port_file)
        host = subprocess.Popen([sys.executable, TEST_HOST], cwd=self.bare_folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        program = None
        try:
            port = poll(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 30,
                        "the host's port")
            started = time.monotonic()
            program = subprocess.Popen([self.bare, f"http://127.0.0.1:{port}/"], env=browser_env(),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            _, page_at, window = page_on_screen(x, program, "the bare webview window")
            self.close(program, window)
            return (page_at - started) * 1000
        finally:
            for process in (program, host):
                if process is not None and process.poll() is None:
                    process.kill()
                    process.wait()


def measure_morvane(x, archive, runs):
    results = {"morvane_window_ms": [], "morvane_page_ms": [], "webview_page_ms": []}
    for _ in range(runs):
        shown, drawn = archive.morvane_once(x)
        results["morvane_window_ms"].append(shown)
        results["morvane_page_ms"].append(drawn)
        results["webview_page_ms"].append(archive.bare_once(x))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder (holds setup/, launcher/, tests/)")
    parser.add_argument("windows_build", help="the Windows build folder (holds bench/bench_intake.exe)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.windows_build = os.path.abspath(args.windows_build)
    if not os.environ.get("DISPLAY"):
        raise SystemExit("programs.py: needs an X server (DISPLAY)")
    x = X()
    work = tempfile.mkdtemp(prefix="orbex-bench-")
    try:
        references = References(args.build, work)
        setup = Setup(args.build, work)
        results = {"runs": args.runs, "idle_seconds": args.idle_seconds}
        results.update(measure_dialogs(x, Dialogs(setup, references), args.runs, args.idle_seconds))
        results.update(measure_background(x, setup, args.runs))
        results.update(measure_chosen_list(x, setup, args.runs, args.idle_seconds))
        results.update(measure_intake(args.build, args.windows_build, work, args.runs))
        results.update(measure_morvane(x, Archive(args.build, work, references), args.runs))
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
