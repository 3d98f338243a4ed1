"""orbex-setup's progress screen fed every kind of broken status file, in
one run: the screen must keep the last good line through all of them, the
program must stay up and answer a good line afterwards, and it must never
write the status file, create a file beside it, or say anything about it."""
import os
import shutil
import unittest

import xtest
from hostile import FALLBACK, HOSTILE, Setup, close_and_wait
from xtest import (Snapshot, alive, capture, check_unchanged, own_lines, ppm_pixel, replace_file, settle,
                   temp_folder)

FILL = (46, 199, 107)  # the progress bar's fill


def fill_width(ppm):
    """Width in pixels of the bar's fill, found from its left end."""
    column = 12
    for y in range(40, 380):
        if xtest.colour_close(ppm_pixel(ppm, column, y), FILL, 12):
            # A row near the top, which the percentage text does not reach.
            x = column
            while xtest.colour_close(ppm_pixel(ppm, x, y + 1), FILL, 12):
                x += 1
            return x - 8  # the bar starts at x = 8
    return 0


# (what, bytes) pairs: first lines that break one rule each. None of them
# shows what the good line shows, so accepting one would change the screen.
BROKEN_LINES = [
    ("empty file", b""),
    ("line end only", b"\n"),
    ("CR LF only", b"\r\n"),
    ("two fields", b"success\t3\t7\n"),
    ("three tabs, no message", b"success\t3\t7\t\n"),
    ("no message, no line end", b"success\t3\t7\t"),
    ("blanks for tabs", b"success 3 7 blanks\n"),
    ("state in capitals", b"Success\t3\t7\tcapital\n"),
    ("state with a blank", b"success \t3\t7\ttrailing blank\n"),
    ("byte-order mark", b"\xef\xbb\xbfsuccess\t3\t7\tbom\n"),
    ("NUL inside the state", b"succ\x00ess\t3\t7\tnul\n"),
    ("unknown state", b"done\t3\t7\tunknown\n"),
    ("empty count", b"success\t\t7\tempty count\n"),
    ("count without digits", b"success\tthree\t7\twords\n"),
    ("empty total", b"success\t3\t\tempty total\n"),
    ("count past 32 bits", b"success\t2147483648\t7\toverflow\n"),
    ("count below 32 bits", b"success\t-2147483649\t7\tunderflow\n"),
    ("total of twenty digits", b"success\t3\t99999999999999999999\thuge\n"),
    ("completed above total", b"success\t8\t7\tabove\n"),
    ("negative completed", b"success\t-1\t7\tnegative\n"),
    ("total 0", b"success\t0\t0\tzero\n"),
    ("total 10001", b"success\t1\t10001\tover\n"),
    ("good second line only", b"broken first\nsuccess\t3\t7\tsecond line\n"),
    ("NUL bytes", b"\x00" * 300),
    ("binary junk", bytes(range(256)) * 16),
    ("2 MB line without end", b"x" * (2 << 20)),
    ("2 MB of digits as the total", b"success\t3\t" + b"7" * (2 << 20) + b"\tdigits\n"),
]


class BrokenStatusFiles(unittest.TestCase):
    def test_the_last_good_line_survives_every_broken_file(self):
        setup = Setup()
        self.addCleanup(setup.cleanup)
        folder = temp_folder("orbex-hostile-status-")
        self.addCleanup(shutil.rmtree, folder, True)
        # The path itself is hostile: it must be used as it is, and never
        # become a format.
        status = os.path.join(folder, b"status " + HOSTILE + b".txt")
        program = setup.start(b"--mode", b"progress", status)
        wid = program.window()

        replace_file(status, "success\t2\t7\tAll good %n%s \"q\" \u00e9\n".encode())
        good = xtest.wait_for(lambda: (lambda p: p if abs(fill_width(p) - 703 * 2 / 7) <= 3 else None)(capture(wid)),
                              what="the good line on screen")
        self.assertTrue(capture(wid) == good, "the screen of a good line should stand still")
        mine = Snapshot(folder)

        def after(what):
            settle()
            alive(program, what)
            self.assertTrue(capture(wid) == good, f"the screen changed after: {what}")
            check_unchanged(mine, what)

        for what, data in BROKEN_LINES:
            check_unchanged(mine, f"before {what}")
            replace_file(status, data)
            mine = Snapshot(folder)
            after(what)

        # The file goes away and other kinds of entry take its place.
        os.remove(status)
        mine = Snapshot(folder)
        after("the file removed")
        os.mkdir(status)
        mine = Snapshot(folder)
        after("a folder in its place")
        os.rmdir(status)
        os.mkfifo(status)
        mine = Snapshot(folder)
        after("a FIFO nobody writes")
        os.remove(status)
        for target, what in ((b"/dev/zero", "a link to /dev/zero"), (b"/dev/null", "a link to /dev/null"),
                             (os.path.join(folder, b"missing"), "a dangling link"), (status, "a link to itself")):
            os.symlink(target, status)
            mine = Snapshot(folder)
            after(what)
            os.remove(status)

        # Still reading: a good line is shown at once.
        replace_file(status, b"error\t5\t7\tback to good\n")
        xtest.wait_for(lambda: abs(fill_width(capture(wid)) - 703 * 5 / 7) <= 3, what="the next good line")
        mine = Snapshot(folder)
        settle()
        check_unchanged(mine, "the last good line")

        close_and_wait(program, wid, "closing the window")
        font = [line for line in own_lines(program) if line.startswith(b"Vantorra setup font: ")]
        self.assertEqual(own_lines(program), font + [FALLBACK],
                         "a broken status file is never reported, and the path never printed")


if __name__ == "__main__":
    unittest.main(verbosity=2)
