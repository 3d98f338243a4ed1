#!/usr/bin/env python3
"""Draws Morvane's program icon at the seven sizes the program ships.

The picture: a rounded plum square, a white "M" drawn as two peaks, and a gold
sun between them. Every size is rendered from the same shapes with 4x4
supersampling and written as an 8-bit RGBA PNG with nothing but the standard
library. Run it again after changing the art; the PNGs are committed.
"""
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4

TOP = (0x6b, 0x24, 0x7e)      # plum, upper edge of the square
BOTTOM = (0x2c, 0x10, 0x4c)   # deep violet, lower edge
LETTER = (0xf7, 0xf1, 0xff)
SUN = (0xff, 0xc4, 0x4a)

# The "M" in unit coordinates (x right, y down), one closed outline.
LETTER_OUTLINE = [
    (0.22, 0.76), (0.22, 0.27), (0.36, 0.27), (0.50, 0.50), (0.64, 0.27),
    (0.78, 0.27), (0.78, 0.76), (0.645, 0.76), (0.645, 0.49), (0.50, 0.71),
    (0.355, 0.49), (0.355, 0.76),
]
SUN_CENTRE = (0.50, 0.255)
SUN_RADIUS = 0.075
MARGIN = 0.05
CORNER = 0.21


def inside_rounded_square(x, y):
    lo, hi = MARGIN, 1.0 - MARGIN
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + CORNER), hi - CORNER)
    cy = min(max(y, lo + CORNER), hi - CORNER)
    return (x - cx) ** 2 + (y - cy) ** 2 <= CORNER ** 2


def inside_outline(x, y, outline):
    inside = False
    n = len(outline)
    for i in range(n):
        x1, y1 = outline[i]
        x2, y2 = outline[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cross = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross:
                inside = not inside
    return inside


def colour_at(x, y):
    """Straight RGBA (floats 0..1 alpha) of the art at a unit point."""
    if not inside_rounded_square(x, y):
        return None
    if (x - SUN_CENTRE[0]) ** 2 + (y - SUN_CENTRE[1]) ** 2 <= SUN_RADIUS ** 2:
        return SUN
    if inside_outline(x, y, LETTER_OUTLINE):
        return LETTER
    t = (y - MARGIN) / (1.0 - 2 * MARGIN)
    return tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))


def render(size):
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = bytearray([0])  # filter type None
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px * SAMPLES + sx + 0.5) * step,
                                  (py * SAMPLES + sy + 0.5) * step)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        covered += 1
            if covered:
                row += bytes((round(r / covered), round(g / covered), round(b / covered),
                              round(255 * covered / SAMPLES ** 2)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xffffffff)


def png(size, pixels):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for size in SIZES:
        path = os.path.join(out, f"morvane-{size}.png")
        with open(path, "wb") as f:
            f.write(png(size, render(size)))
        print(path)


if __name__ == "__main__":
    main()
