"""The progress screen of orbex-setup, run for real against a status file.

There is no OCR here: a text on the screen is checked by comparing its glyph
coverage with the same text that the tool draws as the status message (same
font, same size, same left edge), which it is handed through the status file.
"""
import os
import shutil
import tempfile
import time
import unittest

import xtest

FILL = (46, 199, 107)  # ImGuiCol_PlotHistogram (0.18, 0.78, 0.42)

# The screen's rows from the top, when the message fits one line.
HEADER, SEPARATOR, HEADING, TITLE, MESSAGE, BAR, COUNTS, STATE_LINE, NOTE = range(9)
ROWS = 9

SPINNER_LINES = [c + "  Processing... Please keep this window open." for c in "|/-\\"]
FAILURE_LINE = "Setup failed. See the launch terminal for details."


class Shot:
    """One capture of the window as RGB rows, with its background colour."""

    def __init__(self, wid):
        self.w, self.h, data = xtest.read_ppm(xtest.capture(wid))
        self.rows = [data[y * self.w * 3:(y + 1) * self.w * 3] for y in range(self.h)]
        self.bg = self.pixel(self.w - 20, self.h - 20)
        self._bands = None

    def pixel(self, x, y):
        i = x * 3
        return tuple(self.rows[y][i:i + 3])

    def ink(self, x, y):
        return max(abs(a - b) for a, b in zip(self.pixel(x, y), self.bg)) > 8

    def bands(self):
        """(y0, y1) row ranges, top to bottom, that hold anything but background
        (the window's own border left out)."""
        if self._bands is None:
            x0, x1 = 4, self.w - 5
            bg_row = bytes(self.bg) * (x1 - x0 + 1)
            found, start = [], None
            for y in range(3, self.h - 3):
                row = self.rows[y][x0 * 3:(x1 + 1) * 3]
                inked = row != bg_row and any(self.ink(x, y) for x in range(x0, x1 + 1))
                if inked and start is None:
                    start = y
                elif not inked and start is not None:
                    found.append((start, y - 1))
                    start = None
            self._bands = found
        return self._bands

    def band(self, index):
        bands = self.bands()
        return bands[index] if index < len(bands) else None

    def coverage(self, index):
        """A text row as glyph coverage (0..1), cropped to its ink, so that the
        same text in another colour compares equal."""
        y0, y1 = self.band(index)
        xs = [x for x in range(4, self.w - 4) for y in range(y0, y1 + 1) if self.ink(x, y)]
        x0, x1 = min(xs), max(xs)
        # The text colour is where a glyph covers a pixel fully: the pixel
        # farthest from the background.
        fg = max((self.pixel(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)),
                 key=lambda p: sum((a - b) ** 2 for a, b in zip(p, self.bg)))
        d = [a - b for a, b in zip(fg, self.bg)]
        dd = sum(v * v for v in d) or 1

        def cover(x, y):
            a = sum((pc - bc) * dc for pc, bc, dc in zip(self.pixel(x, y), self.bg, d)) / dd
            return min(1.0, max(0.0, a))
        full = {(x, y): cover(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)}
        # Cropped by coverage, not by colour difference, so that faint edge
        # pixels of a dim text and of a bright one crop alike.
        kept = [xy for xy, a in full.items() if a > 0.25]
        x0, x1 = min(x for x, _ in kept), max(x for x, _ in kept)
        y0, y1 = min(y for _, y in kept), max(y for _, y in kept)
        cells = [full[(x, y)] for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)]
        return (x1 - x0 + 1, y1 - y0 + 1, cells)

    def bar(self):
        """(left, width, height, filled width) of the progress bar."""
        y0, y1 = self.band(BAR)
        mid = (y0 + y1) // 2
        xs = [x for x in range(4, self.w - 4) if self.ink(x, mid)]
        left, right = min(xs), max(xs)
        # Two rows below the top the percentage text cannot reach.
        filled = 0
        for x in range(left, right + 1):
            if xtest.colour_close(self.pixel(x, y0 + 2), FILL, 12):
                filled = x - left + 1
        return left, right - left + 1, y1 - y0 + 1, filled

    def fill_pixels(self):
        y0, y1 = self.band(BAR)
        return sum(1 for y in range(y0, y1 + 1) for x in range(self.w)
                   if xtest.colour_close(self.pixel(x, y), FILL, 12))


def same_text(a, b):
    if a is None or b is None or a[:2] != b[:2]:
        return False
    return max(abs(p - q) for p, q in zip(a[2], b[2])) < 0.2


class Run:
    """orbex-setup in a progress mode, copied into a folder of its own so that
    no background picture lying beside the build is found, with its status
    file in a temporary folder."""

    def __init__(self, mode):
        self.dir = tempfile.mkdtemp(prefix="orbex-progress-e2e-")
        exe = xtest.copy_setup(self.dir, font=True)
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.status = os.path.join(self.dir, "status.txt")
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        env.pop("ORBEX_OVERLAY_BACKGROUND", None)
        self.program = xtest.Program([exe, "--mode", mode, self.status], env=env)
        self.wid = self.program.window()
        self.refs = {}
        self._ref_turn = 0

    def write(self, text):
        # Every frame shows one whole line.
        xtest.replace_file(self.status, text.encode("utf-8"))

    def shot_when(self, predicate, what, timeout=10.0):
        last = [None]

        def attempt():
            shot = Shot(self.wid)
            last[0] = shot
            return shot if len(shot.bands()) == ROWS and predicate(shot) else None
        return xtest.wait_for(attempt, timeout, interval=0.05, what=what)

    def shot_with_fill(self, fraction, what):
        def fill_matches(shot):
            left, width, _, filled = shot.bar()
            return abs(filled - fraction * width) <= 4
        return self.shot_when(fill_matches, what)

    def ref(self, text):
        """The coverage of a text as the tool draws it as the message."""
        if text not in self.refs:
            # Alternate between two bar fills, so a new frame is recognised.
            self._ref_turn += 1
            total = 2 if self._ref_turn % 2 else 4
            self.write(f"working\t1\t{total}\t{text}\n")
            shot = self.shot_with_fill(1 / total, f"the message {text!r}")
            self.refs[text] = shot.coverage(MESSAGE)
        return self.refs[text]

    def learn(self, *texts):
        """Takes the coverage of texts up front: learning one rewrites the
        status file, which must not happen in the middle of a check."""
        for text in texts:
            self.ref(text)

    def spinner_index(self, shot):
        line = shot.coverage(STATE_LINE)
        for i, text in enumerate(SPINNER_LINES):
            if same_text(line, self.ref(text)):
                return i
        return None

    def close(self):
        xtest.close_request(self.wid)
        code = self.program.wait(10)
        return code, self.program.stdout()

    def cleanup(self):
        self.program.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


class ProgressScreen(unittest.TestCase):
    def start(self, mode):
        run = Run(mode)
        self.addCleanup(run.cleanup)
        return run

    def check_bar(self, shot, fraction):
        left, width, height, filled = shot.bar()
        self.assertEqual((left, width, height), (8, 720 - 16 - 1, 26))
        if fraction == 0:
            self.assertEqual(shot.fill_pixels(), 0)
        else:
            self.assertLessEqual(abs(filled - fraction * width), 4)

    def test_dlc_progress_from_missing_file_to_success_and_back(self):
        run = self.start("progress-dlc")
        # No status file yet: the start value with the add-on texts.
        first = run.shot_when(lambda s: True, "the first frame")
        self.check_bar(first, 0)
        start_rows = {i: first.coverage(i) for i in (HEADING, MESSAGE, COUNTS, NOTE)}
        start_state = first.coverage(STATE_LINE)
        run.learn("OPTIONAL DLC / CUSA50731", "Starting update...", "0 of 5 setup stages completed",
                  "Three completed stages per DLC; not bytes or elapsed time.", *SPINNER_LINES,
                  "3 of 5 setup stages completed", "3 of 3 setup stages completed",
                  "DLC setup complete. Restart to activate.", FAILURE_LINE)
        self.assertTrue(same_text(start_rows[HEADING], run.ref("OPTIONAL DLC / CUSA50731")))
        self.assertTrue(same_text(start_rows[MESSAGE], run.ref("Starting update...")))
        self.assertTrue(same_text(start_rows[COUNTS], run.ref("0 of 5 setup stages completed")))
        self.assertTrue(same_text(start_rows[NOTE],
                                  run.ref("Three completed stages per DLC; not bytes or elapsed time.")))
        self.assertTrue(any(same_text(start_state, run.ref(t)) for t in SPINNER_LINES))

        # A working line: its bar, its counts, and the spinner turning.
        run.write("working\t3\t5\tCopying files\n")
        shot = run.shot_with_fill(0.6, "3 of 5")
        self.check_bar(shot, 0.6)
        self.assertTrue(same_text(shot.coverage(COUNTS), run.ref("3 of 5 setup stages completed")))
        # The spinner moves on every 180 ms through | / - \ in that order.
        samples = []
        began = time.monotonic()
        while time.monotonic() - began < 1.2:
            index = run.spinner_index(Shot(run.wid))
            self.assertIsNotNone(index, "the state line is not the spinner line")
            samples.append((time.monotonic(), index))
        for (t0, a), (t1, b) in zip(samples, samples[1:]):
            if t1 - t0 < 0.17:
                self.assertIn(b, (a, (a + 1) % 4), f"spinner went from {a} to {b}")
        self.assertGreaterEqual(len({i for _, i in samples}), 3, "the spinner does not turn every 180 ms")

        # Success: a full bar and the done text, and the tool stays.
        run.write("success\t3\t3\tAll done\n")
        shot = run.shot_with_fill(1.0, "success")
        self.check_bar(shot, 1.0)
        self.assertTrue(same_text(shot.coverage(COUNTS), run.ref("3 of 3 setup stages completed")))
        self.assertTrue(same_text(shot.coverage(STATE_LINE),
                                  run.ref("DLC setup complete. Restart to activate.")))
        time.sleep(1.0)
        self.assertTrue(run.program.running())

        # Error: the failure line; a faulty line after it changes nothing.
        run.write("error\t1\t4\tUnpack failed\n")
        failed = run.shot_with_fill(0.25, "error")
        self.assertTrue(same_text(failed.coverage(STATE_LINE), run.ref(FAILURE_LINE)))
        failed = Shot(run.wid)
        for bad in ["working\t9\t4\tbad\n", "Working\t2\t4\tbad\n", "working\t2\t4\t\n", "", "\xef\xbb\xbf"]:
            run.write(bad)
            time.sleep(0.25)
            self.assertEqual(Shot(run.wid).rows, failed.rows, f"after {bad!r}")

        # Working again brings the spinner back; the message never acts as a format.
        run.write("working\t2\t4\t%s%s%s%s%s%n%n%d 100%\n")
        shot = run.shot_with_fill(0.5, "working again")
        self.assertIsNotNone(run.spinner_index(shot))
        self.assertTrue(run.program.running())

        code, out = run.close()
        self.assertEqual(code, 1)
        self.assertEqual(out, "")

    def test_update_progress_texts_and_close_after_success(self):
        run = self.start("progress")
        first = run.shot_when(lambda s: True, "the first frame")
        heading, message, note = (first.coverage(i) for i in (HEADING, MESSAGE, NOTE))
        run.learn("GAME UPDATE / CUSA50731", "Starting update...", "OPTIONAL DLC / CUSA50731",
                  "The bar tracks completed stages, not bytes or elapsed time.", "Version 01.03 is ready.",
                  "Installed")
        self.assertTrue(same_text(heading, run.ref("GAME UPDATE / CUSA50731")))
        self.assertTrue(same_text(message, run.ref("Starting update...")))
        self.assertTrue(same_text(note, run.ref("The bar tracks completed stages, not bytes or elapsed time.")))
        # The other mode's heading differs, so the comparison can tell them apart.
        self.assertFalse(same_text(heading, run.ref("OPTIONAL DLC / CUSA50731")))

        run.write("success\t1\t8\tInstalled\r\nerror\t0\t1\tsecond line\n")
        shot = run.shot_with_fill(1 / 8, "success")
        self.assertTrue(same_text(shot.coverage(STATE_LINE), run.ref("Version 01.03 is ready.")))
        self.assertTrue(same_text(shot.coverage(MESSAGE), run.ref("Installed")))

        code, out = run.close()
        self.assertEqual(code, 1)
        self.assertEqual(out, "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
