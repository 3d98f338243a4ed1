"""Shared pieces of the hostile-input tests: hostile names, folders that are
watched for stray writes, exact window captures, and runs of the programs
whose every ending is checked (exit code, no signal, time bound)."""
import os
import shutil
import stat
import struct
import subprocess
import tempfile
import time
import zlib

import xtest

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# Bytes that a name may hold and that break careless code: printf
# conversions, both quotes, blanks, UTF-8 letters and bytes that are no
# UTF-8 at all.
HOSTILE = b'%n%s %d "dq" \'sq\'  \xc3\xa9\xe6\x97\xa5 \xff\xfe'

# The same without the bytes that no keyboard types.
TYPABLE = '%n%s %d "dq" \'sq\'  \u00e9\u65e5'

FALLBACK = b"Vantorra setup: PNG background not found; using plum fallback."


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def temp_folder(prefix):
    return os.fsencode(os.path.realpath(tempfile.mkdtemp(prefix=prefix)))


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def replace_file(path, data):
    """Writes a whole new file in place of `path` in one step, so that a
    reader sees either the old or the new file, never half of it."""
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


def capture(wid):
    """The window's pixels, exactly, as a PPM image."""
    return subprocess.run(["import", "-window", str(wid), "-depth", "8", "ppm:-"], check=True,
                          capture_output=True, timeout=20).stdout


def ppm_pixel(ppm, x, y):
    """(r, g, b) of a PPM image from capture()."""
    fields, pos = [], 0
    while len(fields) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    width = int(fields[1])
    at = pos + 1 + (y * width + x) * 3
    return tuple(ppm[at:at + 3])


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


def peak_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def wait_line(program, predicate, timeout, what):
    """Waits until a line of standard error satisfies predicate."""
    def found():
        alive(program, what)
        return any(predicate(line) for line in own_lines(program))
    xtest.wait_for(found, timeout=timeout, interval=0.02, what=what)


class Setup:
    """orbex-setup copied into a folder of its own (so that no picture
    lying beside the build is found), with its font, a runtime folder and
    no session bus; programs started from it are ended at cleanup."""

    def __init__(self):
        self.root = temp_folder("orbex-hostile-")
        bin_dir = os.path.join(self.root, b"bin")
        os.makedirs(os.path.join(bin_dir, b"assets", b"fonts"))
        self.exe = os.path.join(bin_dir, b"orbex-setup")
        shutil.copy2(xtest.SETUP_BIN, self.exe)
        if os.path.exists(FONT):
            shutil.copy2(FONT, os.path.join(bin_dir, b"assets", b"fonts", b"DejaVuSans.ttf"))
        self.runtime = os.path.join(self.root, b"runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.programs = []

    def env(self, extra=None):
        env = os.environb.copy()
        env[b"XDG_RUNTIME_DIR"] = self.runtime
        env[b"DBUS_SESSION_BUS_ADDRESS"] = b"unix:path=/nonexistent/orbex-no-bus"
        for name in (b"ORBEX_OVERLAY_BACKGROUND", b"ORBEX_SETUP_START_DIR"):
            env.pop(name, None)
        env.update(extra or {})
        return env

    def start(self, *args, extra_env=None, cwd=None):
        program = xtest.Program([self.exe, *args], env=self.env(extra_env), cwd=cwd)
        self.programs.append(program)
        return program

    def cleanup(self):
        for program in self.programs:
            program.kill()
            for stream in (program.out, program.err):
                if not isinstance(stream, str):
                    stream.close()
        shutil.rmtree(self.root, ignore_errors=True)


def close_and_wait(program, wid, what, timeout=10):
    """Asks the window to close; the run must end with 1 and print nothing."""
    xtest.close_request(wid)
    code = ended(program, timeout, what)
    check(code == 1, f"{what}: exit code {code}, expected 1")
    check(raw_stdout(program) == b"", f"{what}: wrote {raw_stdout(program)!r} on standard output")


def settle(seconds=0.12):
    """Long enough for several frames (each ends with a 16 ms pause)."""
    time.sleep(seconds)


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png_file(width, height, stream, depth=8, colour=6, extra=()):
    """A PNG of the given header whose image data is `stream` (a zlib
    stream), split into chunks as encoders do; extra is (type, body) pairs
    placed before the image data."""
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0))
    for kind, body in extra:
        out += png_chunk(kind, body)
    for at in range(0, len(stream), 65536):
        out += png_chunk(b"IDAT", stream[at:at + 65536])
    return out + png_chunk(b"IEND", b"")


def solid_png(width, height, rgba):
    row = b"\x00" + bytes(rgba) * width
    return png_file(width, height, zlib.compress(row * height))


def zlib_bomb(mebibytes):
    """A zlib stream of that many MiB of zero bytes, made by repeating one
    fully flushed block, so that gigabytes cost nothing to make (its
    checksum is wrong, and never reached)."""
    packer = zlib.compressobj(9)
    zeros = bytes(1 << 20)
    first = packer.compress(zeros) + packer.flush(zlib.Z_FULL_FLUSH)
    block = packer.compress(zeros) + packer.flush(zlib.Z_FULL_FLUSH)
    return first + block * (mebibytes - 1) + packer.flush()


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


def type_slowly(wid, text):
    xtest.focus(wid)
    xtest.xdotool("type", "--delay", "40", "--window", str(wid), text)
