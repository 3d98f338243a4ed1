"""orbex-setup's command line, window, font search, frame and endings, run for real."""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import xtest

USAGE = ("Usage: orbex-setup --mode update|dlc|dlc_later OR "
         "--mode progress|progress-dlc /path/status\n")
TITLE = "Vantorra | Update and DLC Setup"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PLUM = (33, 15, 31)


# The clear colour seen through the two translucent veils.
VEILED_PLUM = xtest.veiled(PLUM)


class PrivateCopy:
    """orbex-setup copied into a folder of its own, so its asset searches
    (relative to the program's folder) see only what the test lays there."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="orbex-setup-copy-")
        self.bin = xtest.copy_setup(self.dir)

    def place(self, relative, source=None, folder=False):
        path = os.path.join(self.dir, "bin", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if folder:
            os.makedirs(path)
        elif source:
            shutil.copy2(source, path)
        else:
            with open(path, "w") as f:
                f.write("this is no font\n")
        return path

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def start_and_close(args, exe=None, settle=0.5):
    """Runs the program until its window shows, asks it to close, and
    returns (exit code, stdout, stderr)."""
    program = xtest.Program([exe or xtest.SETUP_BIN, *args])
    with program:
        wid = program.window()
        time.sleep(settle)
        xtest.close_request(wid)
        code = program.wait(10)
        return code, program.stdout(), program.stderr()


class CommandLine(unittest.TestCase):
    def test_bad_command_lines_print_usage_and_exit_2(self):
        bad = [
            [], ["--mode"], ["--mode", "update", "/tmp/x"], ["--mode", "progress"],
            ["--mode=update"], ["--mode", "UPDATE"], ["--MODE", "dlc"], ["update", "--mode"],
            ["--mode", "progress-dlc", "/tmp/a", "/tmp/b"],
        ]
        for args in bad:
            with self.subTest(args=args):
                start = time.monotonic()
                r = subprocess.run([xtest.SETUP_BIN, *args], capture_output=True, timeout=10)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                self.assertEqual(r.stderr.decode(), USAGE)
                self.assertLess(time.monotonic() - start, 5)
        # None of them opened a window.
        self.assertEqual(xtest.windows_of(name="^Vantorra"), [])

    def test_no_display_is_a_start_up_failure(self):
        env = dict(os.environ, DISPLAY=":4999")
        env.pop("WAYLAND_DISPLAY", None)
        r = subprocess.run([xtest.SETUP_BIN, "--mode", "dlc"], capture_output=True, env=env, timeout=20)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        lines = [l for l in r.stderr.decode().splitlines() if l.startswith("SDL setup failed: ")]
        self.assertEqual(len(lines), 1, r.stderr.decode())
        self.assertGreater(len(lines[0]), len("SDL setup failed: "), "SDL's reason follows")


class Window(unittest.TestCase):
    def test_window_title_size_and_close_request(self):
        for args in (["--mode", "update"], ["--mode", "progress", "/nonexistent/status"]):
            with self.subTest(args=args):
                program = xtest.Program([xtest.SETUP_BIN, *args])
                with program:
                    wid = program.window()
                    self.assertEqual(xtest.window_name(wid), TITLE)
                    self.assertEqual(xtest.window_geometry(wid)[2:], (720, 400))
                    time.sleep(0.3)
                    self.assertTrue(program.running())
                    xtest.close_request(wid)
                    self.assertEqual(program.wait(10), 1)
                    self.assertEqual(program.stdout(), "")

    def test_frame_shows_plum_under_the_veils(self):
        program = xtest.Program([xtest.SETUP_BIN, "--mode", "progress", "/nonexistent/status"])
        with program:
            wid = program.window()
            time.sleep(0.5)
            shot = xtest.screenshot(wid)
            try:
                # Corners of the frame away from any widget and from the
                # window's one-pixel border.
                for point in [(700, 385), (600, 385), (710, 200)]:
                    colour = xtest.pixel(shot, *point)
                    self.assertTrue(xtest.colour_close(colour, VEILED_PLUM, 3),
                                    f"{point}: {colour} is not the veiled plum {VEILED_PLUM}")
            finally:
                os.unlink(shot)
            xtest.close_request(wid)
            self.assertEqual(program.wait(10), 1)

    def test_several_close_requests_end_it_once(self):
        program = xtest.Program([xtest.SETUP_BIN, "--mode", "dlc"])
        with program:
            wid = program.window()
            for _ in range(3):
                subprocess.run([xtest.X_CLOSE_REQUEST, str(wid)])
            self.assertEqual(program.wait(10), 1)
            self.assertEqual(program.stdout(), "")

    def test_hang_up_is_a_close_request_unless_ignored(self):
        def ignore_hang_up():
            signal.signal(signal.SIGHUP, signal.SIG_IGN)
        for ignored in (False, True):
            program = xtest.Program([xtest.SETUP_BIN, "--mode", "progress", "/nonexistent"],
                                    preexec_fn=ignore_hang_up if ignored else None)
            with program:
                wid = program.window()
                program.proc.send_signal(signal.SIGHUP)
                if ignored:  # started under nohup
                    time.sleep(0.5)
                    xtest.alive(program, "an ignored SIGHUP")
                    xtest.close_request(wid)
                self.assertEqual(xtest.ended(program, 10, f"SIGHUP, ignored: {ignored}"), 1)
                self.assertEqual(program.stdout(), "")


class FontSearch(unittest.TestCase):
    def setUp(self):
        self.copy = PrivateCopy()

    def tearDown(self):
        self.copy.cleanup()

    def font_lines(self, stderr):
        return [l for l in stderr.splitlines() if l.startswith("Vantorra setup font: ")]

    def test_no_font_means_no_notice(self):
        code, out, err = start_and_close(["--mode", "dlc"], exe=self.copy.bin)
        self.assertEqual((code, out), (1, ""))
        self.assertEqual(self.font_lines(err), [])

    def test_first_loadable_candidate_wins(self):
        # A folder and a file that is no font stand before the real one; both
        # are passed over without stopping the tool.
        self.copy.place("../gpu/third_party/fonts/DejaVuSans.ttf", folder=True)
        self.copy.place("gpu/third_party/fonts/DejaVuSans.ttf")
        self.copy.place("assets/fonts/DejaVuSans.ttf", FONT)
        self.copy.place("fonts/DejaVuSans.ttf", FONT)
        code, out, err = start_and_close(["--mode", "update"], exe=self.copy.bin)
        self.assertEqual((code, out), (1, ""))
        expected = os.path.join(self.copy.dir, "bin", "assets/fonts/DejaVuSans.ttf")
        self.assertEqual(self.font_lines(err), ["Vantorra setup font: " + expected])

    def test_parent_folder_candidate_is_joined_unnormalised(self):
        self.copy.place("../gpu/third_party/fonts/DejaVuSans.ttf", FONT)
        code, _, err = start_and_close(["--mode", "dlc_later"], exe=self.copy.bin)
        self.assertEqual(code, 1)
        expected = os.path.join(self.copy.dir, "bin", "../gpu/third_party/fonts/DejaVuSans.ttf")
        self.assertEqual(self.font_lines(err), ["Vantorra setup font: " + expected])

    def test_built_in_font_is_scaled_up(self):
        # The built-in font is 7 px a character; at the 1.16 scale the
        # 19-character header line spans about 151 px instead of 133.
        def header_width(wid):
            shot = xtest.screenshot(wid)
            try:
                return int(xtest.run(["convert", shot, "-crop", "720x24+0+0", "+repage", "-fill",
                                      "black", "-fuzz", "15%", "+opaque", "rgb(250,140,191)",
                                      "-trim", "-format", "%w", "info:"]))
            finally:
                os.unlink(shot)

        program = xtest.Program([self.copy.bin, "--mode", "progress", "/nonexistent"])
        with program:
            wid = program.window()
            # On a busy machine the first frames may not hold the text yet.
            def drawn_width():
                width = header_width(wid)
                return width if width > 20 else None
            box = xtest.wait_for(drawn_width, what="the header line on screen")
        self.assertTrue(145 <= box <= 160, f"header line is {box} px wide")


if __name__ == "__main__":
    unittest.main(verbosity=2)
