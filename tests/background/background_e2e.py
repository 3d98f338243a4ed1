"""The picture behind orbex-setup's window, drawn by the real program."""
import glob
import os
import shutil
import struct
import tempfile
import unittest
import zlib

import xtest
from xtest import veiled

PLUM = (33, 15, 31)
FALLBACK = "Vantorra setup: PNG background not found; using plum fallback."
RED, GREEN, BLUE = (220, 30, 40), (30, 200, 60), (40, 60, 230)


def write_png(path, width, height, pixel):
    """Writes an 8-bit RGBA PNG; pixel(x, y) gives an (r, g, b, a) tuple."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows))))
        f.write(chunk(b"IEND", b""))


def bands(width, height):
    """Red, green and blue thirds from left to right, opaque."""
    row = [RED + (255,) if x * 3 < width else GREEN + (255,) if x * 3 < 2 * width else BLUE + (255,)
           for x in range(width)]
    return lambda x, y: row[x]


class Background(unittest.TestCase):
    def setUp(self):
        # A private copy of the program: its folder decides where the
        # "overlay.png" searches look, so nothing else can be found.
        self.dir = tempfile.mkdtemp(prefix="orbex-background-")
        self.bin = xtest.copy_setup(self.dir)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, extra_env=None):
        """Starts the program and returns it with its window id."""
        env = dict(os.environ)
        env.pop("ORBEX_OVERLAY_BACKGROUND", None)
        program = xtest.Program([self.bin, "--mode", "progress", "/nonexistent/status"], env=env,
                                extra_env=extra_env)
        # The first window SDL maps can be replaced while the renderer is made;
        # the background notice comes after that, so the window is final then.
        try:
            xtest.wait_for(lambda: self.art_lines(program), 15, what="the background notice")
            return program, program.window()
        except BaseException:
            program.kill()
            raise

    def wait_colours(self, wid, expected, timeout=10.0):
        """Waits until every (x, y) of expected shows its colour; fails with
        the last colours seen."""
        seen = {}

        def matches():
            shot = xtest.screenshot(wid)
            try:
                seen.update(zip(expected, xtest.pixels(shot, list(expected))))
            finally:
                os.unlink(shot)
            return all(xtest.colour_close(seen[p], c, 4) for p, c in expected.items())

        try:
            xtest.wait_for(matches, timeout, interval=0.2, what="the expected colours")
        except AssertionError:
            self.fail("\n".join(f"{p}: saw {seen.get(p)}, want {tuple(round(v) for v in c)}"
                                for p, c in expected.items()))

    def close(self, program, wid):
        xtest.close_request(wid)
        self.assertEqual(program.wait(10), 1)
        self.assertEqual(program.stdout(), "")

    def art_lines(self, program):
        return [l for l in program.stderr().splitlines()
                if l.startswith("Vantorra setup art: ") or l == FALLBACK]

    def test_picture_is_drawn_cover_fit_under_the_veils_and_refit_on_resize(self):
        picture = os.path.join(self.dir, "bin", "assets", "overlay.png")
        os.makedirs(os.path.dirname(picture))
        # 1080 x 400 in a 720 x 400 window: same height, so 180 columns are
        # cut on each side and the bands show 180, 360 and 180 wide.
        write_png(picture, 1080, 400, bands(1080, 400))
        program, wid = self.start()
        with program:
            # Points in the window's padding, where no widget draws.
            self.wait_colours(wid, {
                (3, 200): veiled(RED), (170, 396): veiled(RED),
                (190, 396): veiled(GREEN), (360, 396): veiled(GREEN), (530, 396): veiled(GREEN),
                (550, 396): veiled(BLUE), (716, 200): veiled(BLUE),
            })
            self.assertEqual(self.art_lines(program), ["Vantorra setup art: " + picture])

            # 400 x 700: the picture is enlarged 1.75 times to fill the
            # height, and only its middle 229 columns, all green, remain.
            xtest.xdotool("windowmove", str(wid), "0", "0")
            xtest.xdotool("windowsize", str(wid), "400", "700")
            self.wait_colours(wid, {
                (3, 350): veiled(GREEN), (396, 350): veiled(GREEN), (200, 696): veiled(GREEN),
            })
            self.close(program, wid)

    def test_transparent_picture_shows_the_plum_colour(self):
        picture = os.path.join(self.dir, "clear.png")
        write_png(picture, 64, 64, lambda x, y: (255, 255, 255, 0))
        program, wid = self.start({"ORBEX_OVERLAY_BACKGROUND": picture})
        with program:
            self.wait_colours(wid, {(3, 200): veiled(PLUM), (716, 200): veiled(PLUM), (360, 396): veiled(PLUM)})
            self.assertEqual(self.art_lines(program), ["Vantorra setup art: " + picture])
            self.close(program, wid)

    def test_without_a_picture_one_notice_and_plum(self):
        # A folder where the picture would be is no picture.
        os.makedirs(os.path.join(self.dir, "bin", "assets", "overlay.png"))
        program, wid = self.start({"ORBEX_OVERLAY_BACKGROUND": os.path.join(self.dir, "missing.png")})
        with program:
            self.wait_colours(wid, {(3, 200): veiled(PLUM), (360, 396): veiled(PLUM)})
            self.close(program, wid)
        self.assertEqual(self.art_lines(program), [FALLBACK])
        self.assertNotIn("ORBEX PNG", program.stderr())

    def test_decoder_library_that_cannot_load_is_one_failed_picture(self):
        # FFmpeg is opened only when a picture is decoded: one that cannot be
        # loaded costs that picture, with the reason, and the run goes on.
        broken = os.path.join(self.dir, "broken-libraries")
        os.makedirs(broken)
        names = {os.path.basename(p) for p in glob.glob("/usr/lib/*/libavcodec.so.*")}
        self.assertTrue(names, "no libavcodec on this system")
        for name in names:
            with open(os.path.join(broken, name), "w") as f:
                f.write("not a library\n")
        picture = os.path.join(self.dir, "red.png")
        write_png(picture, 64, 64, lambda x, y: RED + (255,))
        program, wid = self.start({"ORBEX_OVERLAY_BACKGROUND": picture, "LD_LIBRARY_PATH": broken})
        with program:
            self.wait_colours(wid, {(3, 200): veiled(PLUM), (360, 396): veiled(PLUM)})
            self.close(program, wid)
        self.assertEqual(self.art_lines(program), [FALLBACK])
        self.assertIn("ORBEX PNG: FFmpeg could not be loaded: ", program.stderr())


if __name__ == "__main__":
    unittest.main(verbosity=2)
