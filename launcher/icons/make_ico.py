#!/usr/bin/env python3
"""Packs Morvane's PNG icon images into one .ico file for the Windows resource.

Usage: make_ico.py OUTPUT.ico IMAGE.png...

Each PNG goes into the file unchanged (PNG-compressed icon images), in the
order given. Only square 8-bit RGBA images of 1 to 256 pixels are taken; the
icon format writes a size of 256 as 0.
"""
import struct
import sys

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
RGBA = 6


def png_size(data, name):
    """The side of a square 8-bit RGBA PNG; exits with a message otherwise."""
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        sys.exit(f"make_ico: {name} is not a PNG file")
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    if width != height or not 1 <= width <= 256:
        sys.exit(f"make_ico: {name} is {width}x{height}; icon images are square, at most 256")
    if depth != 8 or colour != RGBA:
        sys.exit(f"make_ico: {name} is not 8-bit RGBA")
    return width


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: make_ico.py OUTPUT.ico IMAGE.png...")
    images = []
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        images.append((png_size(data, name), data))

    header = struct.pack("<HHH", 0, 1, len(images))  # reserved, type 1 = icon, count
    directory = b""
    offset = len(header) + 16 * len(images)
    for size, data in images:
        side = size % 256  # 256 is written as 0
        # width, height, palette colours, reserved, planes, bits per pixel, bytes, offset
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(header + directory + b"".join(data for _, data in images))


if __name__ == "__main__":
    main()
