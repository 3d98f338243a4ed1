"""orbex-setup given hostile background pictures through
ORBEX_OVERLAY_BACKGROUND: bombs, oversized and broken PNG files, and
entries that are no file at all. Each run must reach its window with the
plum fallback and the loader's line, within a few seconds and without
claiming the memory the file asks for; a good picture under a hostile name
must be shown, its name printed as it is."""
import os
import shutil
import signal
import time
import unittest
import zlib

import xtest
from hostile import FALLBACK, HOSTILE, Setup, close_and_wait, png_file, solid_png, zlib_bomb
from xtest import (Snapshot, alive, capture, check_unchanged, ended, own_lines, peak_kb, ppm_pixel, raw_stdout,
                   temp_folder, veiled, wait_line, write_bytes)

NOTICE_TIMEOUT = 15  # seconds from start to the background notice, several runs at once
BOMB_PEAK_KB = 300 * 1024
PICTURE = (30, 200, 60, 255)


def refusal(size, data):
    return f"ORBEX PNG: compressed data inflates far beyond a {size} picture ({len(data)} input bytes)".encode()


class HostileBackgrounds(unittest.TestCase):
    def setUp(self):
        self.setup = Setup()
        self.addCleanup(self.setup.cleanup)
        self.folder = temp_folder("orbex-hostile-art-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def file(self, name, data):
        path = os.path.join(self.folder, name)
        write_bytes(path, data)
        return path

    def lines_after_font(self, program):
        return [line for line in own_lines(program) if not line.startswith(b"Vantorra setup font: ")]

    def test_a_good_picture_under_a_hostile_name_is_shown(self):
        picture = self.file(b"picture.png", solid_png(64, 48, PICTURE))
        # Reached through a symbolic link whose name breaks careless code.
        link = os.path.join(self.folder, HOSTILE + b".png")
        os.symlink(picture, link)
        before = Snapshot(self.folder)
        program = self.setup.start(b"--mode", b"progress", os.path.join(self.folder, b"status"),
                                   extra_env={b"ORBEX_OVERLAY_BACKGROUND": link})
        wid = program.window()
        expected = veiled(PICTURE[:3])
        xtest.wait_for(lambda: xtest.colour_close(ppm_pixel(capture(wid), 700, 390), expected, 3),
                       what="the picture under the veils")
        close_and_wait(program, wid, "closing")
        self.assertEqual(self.lines_after_font(program), [b"Vantorra setup art: " + link])
        check_unchanged(before, "a shown picture")

    def test_bombs_and_broken_files_fall_back_to_plum(self):
        fifo = os.path.join(self.folder, b"x.png")
        os.mkfifo(fifo)
        device = os.path.join(self.folder, b"zero.png")
        os.symlink(b"/dev/zero", device)
        folder = os.path.join(self.folder, b"folder.png")
        os.mkdir(folder)
        tiny_bomb = png_file(1, 1, zlib_bomb(1024), colour=0)
        wide_bomb = png_file(4096, 4096, zlib_bomb(64), colour=0)
        text_bomb = png_file(1, 1, zlib.compress(b"\0\0"), colour=0,
                             extra=[(b"zTXt", b"Comment\0\0" + zlib_bomb(1024))])
        junk = bytes(range(256)) * 64
        # (what, path, the loader's lines before the fallback notice, a
        # bound on the peak memory in kB or None)
        cases = [
            ("declares 16000 x 16000", self.file(b"declared.png", png_file(16000, 16000, zlib.compress(bytes(128001)))),
             [b"ORBEX PNG: invalid decoded image dimensions 16000x16000"], BOMB_PEAK_KB),
            ("1 GiB of rows behind one pixel", self.file(b"tiny-bomb.png", tiny_bomb),
             [refusal("1x1", tiny_bomb)], BOMB_PEAK_KB),
            ("64 MiB of rows behind 4096 x 4096", self.file(b"wide-bomb.png", wide_bomb),
             [refusal("4096x4096", wide_bomb)], BOMB_PEAK_KB),
            ("1 GiB of comment", self.file(b"text-bomb.png", text_bomb),
             [refusal("1x1", text_bomb)], BOMB_PEAK_KB),
            ("4097 pixels wide", self.file(b"wide.png", solid_png(4097, 2, PICTURE)),
             [b"ORBEX PNG: invalid decoded image dimensions 4097x2"], None),
            ("empty file", self.file(b"empty.png", b""), [], None),
            ("no PNG at all", self.file(b"junk.png", junk), ["decoding failed", f"{len(junk)} input bytes)"], None),
            ("a FIFO nobody writes", fifo, [], None),
            ("a link to /dev/zero", device, [], None),
            ("a folder", folder, [], None),
            ("a missing file", os.path.join(self.folder, b"missing " + HOSTILE + b".png"), [], None),
        ]
        before = Snapshot(self.folder)
        runs = []
        for what, path, lines, peak in cases:
            started = time.monotonic()
            program = self.setup.start(b"--mode", b"progress-dlc", os.path.join(self.folder, b"status"),
                                       extra_env={b"ORBEX_OVERLAY_BACKGROUND": path})
            runs.append((what, program, lines, peak, started))

        for what, program, lines, peak, started in runs:
            wait_line(program, lambda line: line == FALLBACK or line.startswith(b"Vantorra setup art: "),
                      NOTICE_TIMEOUT - (time.monotonic() - started), f"{what}: the background notice")
            time.sleep(0.3)  # some frames on the plum fallback
            alive(program, what)
            if peak is not None:
                self.assertLess(peak_kb(program.pid), peak, f"{what}: peak memory")
            # The caller ending the tool: a quit request, like a close.
            program.proc.send_signal(signal.SIGTERM)
            self.assertEqual(ended(program, 10, what), 1, what)
            self.assertEqual(raw_stdout(program), b"", what)
            got = self.lines_after_font(program)
            self.assertEqual(got[-1:], [FALLBACK], f"{what}: {got}")
            if lines and isinstance(lines[0], str):
                self.assertEqual(len(got), 2, f"{what}: {got}")
                self.assertTrue(all(part.encode() in got[0] for part in lines), f"{what}: {got}")
            else:
                self.assertEqual(got[:-1], lines, what)
        check_unchanged(before, "the refused pictures")


if __name__ == "__main__":
    unittest.main(verbosity=2)
