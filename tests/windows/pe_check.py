"""Checks of the Windows program files in dist/windows, without running them.
Usage: pe_check.py programs|icon

programs: both programs are 64-bit (PE32+, x86-64) windowed (GUI subsystem)
          programs, and every DLL that an .exe or .dll of the folder imports
          is laid beside them or part of every Windows 10/11 x64, except the
          Microsoft C++ runtime of the browser library: a prerequisite the
          README names. None is a mingw-w64 runtime DLL.
icon:     Morvane.exe carries icon group 1 of seven PNG images, 16 to 256
          pixels, language 1033, and no other resource.
"""
import fnmatch
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import winetest
from winetest import check

OBJDUMP = shutil.which("x86_64-w64-mingw32-objdump")
WRESTOOL = shutil.which("wrestool")
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
MINGW_RUNTIME = {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}
# DLLs that every Windows 10 and 11 x64 installation has in System32. A DLL
# comes onto this list only with a reason; anything else must be shipped.
WINDOWS_DLLS = {
    "kernel32.dll",  # processes, files, memory: the base of every program
    "user32.dll",    # windows, messages, message boxes, icons
    "gdi32.dll",     # drawing and fonts (SDL3)
    "advapi32.dll",  # registry (SDL3, the browser library)
    "shell32.dll",   # command line and shell folders (orbex-setup, SDL3, the browser library)
    "shlwapi.dll",   # path helpers (the browser library)
    "ole32.dll",     # COM, which the file dialog and WebView2 are built on
    "oleaut32.dll",  # COM strings and variants (SDL3)
    "ws2_32.dll",    # Windows Sockets 2 (Morvane's port probe)
    "msvcrt.dll",    # the C library mingw-w64 programs link against
    "imm32.dll",     # input method editors (SDL3's text input)
    "setupapi.dll",  # device enumeration (SDL3's input devices)
    "version.dll",   # file version resources (SDL3, the browser library)
    "winmm.dll",     # multimedia timers (SDL3)
    "bcrypt.dll",    # the system's random numbers (FFmpeg's libavutil)
}
# What the player's PC must have installed besides Windows, named in the
# README: the Microsoft Visual C++ 2015-2022 x64 runtime that libwebview.dll,
# built with Microsoft's compiler, imports. (The api-ms-win-crt-* names lead
# to the Universal CRT, which that runtime's installer also brings.) The
# WebView2 runtime is a prerequisite too, but it is loaded at run time, not
# imported.
PLAYER_PREREQUISITES = {
    "libwebview.dll": ("msvcp140.dll", "vcruntime140.dll", "vcruntime140_1.dll",
                       "api-ms-win-crt-*.dll"),
}
README = os.path.join(winetest.HERE, "..", "..", "README.md")


def objdump(path):
    return subprocess.run([OBJDUMP, "-p", path], check=True, capture_output=True,
                          text=True).stdout


def imports(dump):
    return [name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)]


def prerequisite(program, dll):
    return any(fnmatch.fnmatchcase(dll, pattern)
               for pattern in PLAYER_PREREQUISITES.get(program.lower(), ()))


def check_programs():
    if not OBJDUMP:
        winetest.skip("x86_64-w64-mingw32-objdump is missing (binutils-mingw-w64-x86-64)")
    shipped = {name.lower() for name in os.listdir(winetest.DIST)}
    for program in ("Morvane.exe", "orbex-setup.exe"):
        dump = objdump(os.path.join(winetest.DIST, program))
        check("file format pei-x86-64" in dump, f"{program} is not an x86-64 PE file")
        check(re.search(r"^Magic\s+020b\s+\(PE32\+\)", dump, re.M), f"{program} is not PE32+")
        check(re.search(r"^Subsystem\s+00000002\s+\(Windows GUI\)", dump, re.M),
              f"{program} is not a windowed program")
    check(set(imports(objdump(os.path.join(winetest.DIST, "Morvane.exe")))) ==
          {"kernel32.dll", "msvcrt.dll", "user32.dll", "ws2_32.dll"},
          "Morvane.exe imports more than the system DLLs it calls (the browser library is "
          "loaded at run time)")
    check("sdl3.dll" in imports(objdump(os.path.join(winetest.DIST, "orbex-setup.exe"))),
          "orbex-setup.exe should use SDL3.dll")

    for name in sorted(os.listdir(winetest.DIST)):
        if not name.lower().endswith((".exe", ".dll")):
            continue
        for dll in imports(objdump(os.path.join(winetest.DIST, name))):
            check(dll not in MINGW_RUNTIME or dll in shipped,
                  f"{name} needs the compiler runtime {dll}, which is not shipped")
            check(dll in WINDOWS_DLLS or dll in shipped or prerequisite(name, dll),
                  f"{name} imports {dll}, which is neither shipped, nor part of Windows, "
                  "nor a prerequisite the README names")

    with open(README, encoding="utf-8") as f:
        readme = f.read().lower()
    for program, dlls in PLAYER_PREREQUISITES.items():
        for dll in dlls:
            check(dll in readme, f"the README does not name {dll}, which {program} needs")


def png_header(data):
    """(width, height, bit depth, colour type) of PNG data."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", "not PNG data")
    return struct.unpack(">IIBB", data[16:26])


def check_icon():
    if not WRESTOOL:
        winetest.skip("wrestool is missing (icoutils)")
    program = os.path.join(winetest.DIST, "Morvane.exe")
    listing = subprocess.run([WRESTOOL, "-l", program], check=True, capture_output=True,
                             text=True).stdout
    found = sorted(re.findall(r"--type=(\d+) --name=(\d+) --language=(\d+)", listing))
    expected = sorted([("3", str(n), "1033") for n in range(1, 8)] + [("14", "1", "1033")])
    check(found == expected, f"resources {found}, expected the icon group and seven icons")

    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([WRESTOOL, "-x", "--raw", "-o", folder, program], check=True,
                       capture_output=True)
        raw = {}
        for name in os.listdir(folder):
            match = re.search(r"_(\d+)_(\d+)(?:\.\w+)?$", name)  # <file>_<type>_<name>[.ext]
            with open(os.path.join(folder, name), "rb") as f:
                raw[(int(match.group(1)), int(match.group(2)))] = f.read()

    group = raw[(14, 1)]
    reserved, kind, count = struct.unpack("<HHH", group[:6])
    check((reserved, kind, count) == (0, 1, 7), f"icon group header {(reserved, kind, count)}")
    for index, size in enumerate(ICON_SIZES):
        width, height, colours, _, planes, bits, length, ident = struct.unpack(
            "<BBBBHHIH", group[6 + 14 * index:20 + 14 * index])
        written = size % 256
        check((width, height, colours, planes, bits) == (written, written, 0, 1, 32),
              f"group entry {index}: {(width, height, colours, planes, bits)} for {size} pixels")
        check(ident == index + 1, f"group entry {index} names icon {ident}")
        image = raw[(3, ident)]
        check(length == len(image), f"group entry {index} gives {length} bytes for {len(image)}")
        check(png_header(image) == (size, size, 8, 6), f"icon {ident} is not {size}-pixel RGBA")
        with open(os.path.join(winetest.ICONS, f"morvane-{size}.png"), "rb") as f:
            check(image == f.read(), f"icon {ident} is not the art of morvane-{size}.png")


def main():
    winetest.need_dist("Morvane.exe", "orbex-setup.exe")
    {"programs": check_programs, "icon": check_icon}[sys.argv[1]]()
    print(f"{sys.argv[1]}: ok")


if __name__ == "__main__":
    main()
