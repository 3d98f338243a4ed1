"""Screenshots of the selection screen in its three modes, checked by colour;
they are kept in the build folder (picker-screens/) for a look by eye."""
import os
import shutil
import time
import unittest

import xtest
from pickertest import (BUTTON, DISABLED_BUTTON, HEADING, FakeZenity, Layout, click, has_colour, make_env,
                        park_mouse, path_without_zenity, pkg_tree, region_colours, settled_window)

SHOTS = os.path.join(os.environ.get("ORBEX_BUILD_DIR", "."), "picker-screens")


def lowest_run(png, x, colour, tolerance):
    """(top, bottom) rows of the lowest run of a colour in column x."""
    rows = [y for y, c in enumerate(region_colours(png, x, 0, 1, 400)) if xtest.colour_close(c, colour, tolerance)]
    bottom = rows[-1] if rows else -1
    top = bottom
    while top - 1 in rows:
        top -= 1
    return top, bottom


class Screens(unittest.TestCase):
    def start(self, mode, cwd=None, env=None):
        if env is None:
            no_zenity = path_without_zenity()
            self.addCleanup(shutil.rmtree, no_zenity, True)
            env = make_env(path=no_zenity)
        program = xtest.setup_program("--mode", mode, env=env, cwd=cwd)
        self.addCleanup(program.kill)
        self.addCleanup(program.out.close)
        self.addCleanup(program.err.close)
        wid = settled_window(program)
        time.sleep(0.3)
        park_mouse(wid)
        return program, wid

    def shot(self, wid, name):
        os.makedirs(SHOTS, exist_ok=True)
        return xtest.screenshot(wid, os.path.join(SHOTS, name + ".png"))

    def test_each_mode_with_nothing_chosen(self):
        for mode in ("update", "dlc", "dlc_later"):
            with self.subTest(mode=mode):
                program, wid = self.start(mode)
                png = self.shot(wid, mode)
                layout = Layout(mode=mode)
                self.assertTrue(has_colour(png, layout.heading_box, HEADING, tolerance=2))
                self.assertTrue(xtest.colour_close(xtest.pixel(png, 14, layout.select[1] - 14), BUTTON))
                self.assertTrue(xtest.colour_close(xtest.pixel(png, *layout.accept_fill), DISABLED_BUTTON, 6))
                self.assertTrue(xtest.colour_close(xtest.pixel(png, *layout.second_fill), BUTTON))
                xtest.close_request(wid)
                self.assertEqual(program.wait(10), 1)

    def test_closing_buttons_stay_whole_in_the_fullest_state(self):
        # The path field open, a package chosen, a notice and the chooser's
        # line: every optional line above the buttons at once.
        root = pkg_tree(["a.pkg"])
        self.addCleanup(shutil.rmtree, root, True)
        for mode in ("update", "dlc"):
            with self.subTest(mode=mode):
                zenity = FakeZenity()
                self.addCleanup(zenity.cleanup)
                program, wid = self.start(mode, cwd=root, env=zenity.env(start_dir=root))
                click(wid, Layout(mode=mode).toggle)
                for text in ("a.pkg", "none.pkg"):
                    click(wid, Layout(mode=mode, manual=True, chosen=1).field)
                    xtest.type_text(wid, text)
                    click(wid, Layout(mode=mode, manual=True, chosen=1).add)
                click(wid, Layout(mode=mode, manual=True, chosen=1, notice=True).select)
                zenity.call(0)
                time.sleep(0.3)
                park_mouse(wid)
                png = self.shot(wid, mode + "-fullest")
                for name, x in (("accept", 16), ("second", 234)):
                    top, bottom = lowest_run(png, x, DISABLED_BUTTON, 6)
                    self.assertEqual((bottom - top + 1, bottom < 399), (42, True), f"{name} button rows {top}-{bottom}")
                full = Layout(mode=mode, chooser_open=True, notice=True, manual=True, chosen=1)
                self.assertTrue(xtest.colour_close(xtest.pixel(png, *full.accept_fill), DISABLED_BUTTON, 6))
                zenity.answer(status=1)
                xtest.close_request(wid)
                self.assertEqual(program.wait(10), 1)

    def test_names_are_shown_literally(self):
        # A file name that would be a format, with its tooltip.
        root = pkg_tree(["100%s %n done.pkg"])
        self.addCleanup(shutil.rmtree, root, True)
        program, wid = self.start("dlc", cwd=root)
        click(wid, Layout().toggle)
        typed = Layout(manual=True)
        click(wid, typed.field)
        xtest.type_text(wid, "100%s %n done.pkg")
        click(wid, typed.add)
        one = Layout(manual=True, chosen=1)
        xtest.xdotool("mousemove", "--window", str(wid), *map(str, one.entries[0]))
        time.sleep(0.8)
        self.shot(wid, "dlc-percent-name")
        self.assertTrue(program.running())
        park_mouse(wid)
        click(wid, one.accept)
        self.assertEqual(program.wait(10), 0)
        self.assertEqual(program.stdout(), os.path.join(root, "100%s %n done.pkg") + "\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
