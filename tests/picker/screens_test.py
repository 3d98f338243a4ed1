"""Screenshots of the selection screen in its three modes, checked by colour;
they are kept in the build folder (picker-screens/) for a look by eye."""
import os
import shutil
import time
import unittest

import xtest
from pickertest import (BUTTON, DISABLED_BUTTON, HEADING, Layout, click, has_colour, make_env, park_mouse,
                        path_without_zenity, pkg_tree, settled_window)

SHOTS = os.path.join(os.environ.get("ORBEX_BUILD_DIR", "."), "picker-screens")


class Screens(unittest.TestCase):
    def start(self, mode, cwd=None):
        no_zenity = path_without_zenity()
        self.addCleanup(shutil.rmtree, no_zenity, True)
        program = xtest.setup_program("--mode", mode, env=make_env(path=no_zenity), cwd=cwd)
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
