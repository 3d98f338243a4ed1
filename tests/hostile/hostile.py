"""Shared pieces of the hostile-input tests: hostile names, orbex-setup in a
folder of its own, and PNG files built byte by byte (bombs included)."""
import os
import shutil
import struct
import zlib

import xtest
from xtest import check, ended, raw_stdout, temp_folder

# Bytes that a name may hold and that break careless code: printf
# conversions, both quotes, blanks, UTF-8 letters and bytes that are no
# UTF-8 at all.
HOSTILE = b'%n%s %d "dq" \'sq\'  \xc3\xa9\xe6\x97\xa5 \xff\xfe'

# The same without the bytes that no keyboard types.
TYPABLE = '%n%s %d "dq" \'sq\'  \u00e9\u65e5'

FALLBACK = b"Vantorra setup: PNG background not found; using plum fallback."


class Setup:
    """orbex-setup copied into a folder of its own (so that no picture
    lying beside the build is found), with its font, a runtime folder and
    no session bus; programs started from it are ended at cleanup."""

    def __init__(self):
        self.root = temp_folder("orbex-hostile-")
        self.exe = os.fsencode(xtest.copy_setup(os.fsdecode(self.root), font=True))
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

