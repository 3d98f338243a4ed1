"""The selection screen with the desktop's real chooser, zenity, as SDL runs
it when no desktop portal answers."""
import os
import shutil
import time
import unittest

import xtest
from pickertest import (BUTTON, NOTICE, Layout, Shots, children, click, has_colour, make_env, notice_box,
                        park_mouse, pkg_tree, same_picture, settled_window)


def file_choosers(pid):
    """Child processes of pid running zenity's file chooser (SDL first runs
    "zenity --version" to see whether it is there)."""
    found = []
    for child in children(pid):
        try:
            with open(f"/proc/{child}/cmdline", "rb") as f:
                if b"--file-selection" in f.read():
                    found.append(child)
        except OSError:
            pass
    return found


class RealZenity(unittest.TestCase):
    def setUp(self):
        if not shutil.which("zenity"):
            self.skipTest("zenity is not installed")
        self.root = pkg_tree(["start/a.pkg", "start/b.pkg", "elsewhere.pkg"])
        self.addCleanup(shutil.rmtree, self.root, True)
        self.start = os.path.join(self.root, "start")

    def run_setup(self, mode):
        program = xtest.setup_program("--mode", mode, env=make_env(start_dir=self.start))
        self.addCleanup(program.kill)
        self.addCleanup(program.out.close)
        self.addCleanup(program.err.close)
        wid = settled_window(program)
        time.sleep(0.3)
        return program, wid

    def chooser(self, program):
        """The zenity window that the program started; returns (pid, window)."""
        pid = xtest.wait_for(lambda: next(iter(file_choosers(program.pid)), None), 15,
                             what="zenity to start")
        wid = xtest.wait_window(pid=pid, timeout=20)
        time.sleep(0.5)  # let GTK finish laying out its file list
        return pid, wid

    def type_location(self, zenity_wid, text):
        xtest.key(zenity_wid, "ctrl+l")
        time.sleep(0.3)
        xtest.type_text(zenity_wid, text)
        time.sleep(0.3)
        xtest.key(zenity_wid, "Return")

    def wait_gone(self, pid):
        def ended():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    return f.read().split()[2] == "Z"
            except OSError:
                return True
        xtest.wait_for(ended, 15, what="zenity to end")

    def test_chooser_opens_inside_the_start_folder(self):
        program, wid = self.run_setup("dlc")
        click(wid, Layout().select)
        pid, zenity = self.chooser(program)
        # A bare name is taken in the folder the chooser shows.
        self.type_location(zenity, "a.pkg")
        self.wait_gone(pid)
        one = Layout(chosen=1)
        shots = Shots(wid)
        self.addCleanup(shots.cleanup)
        shots.wait_until(lambda png: xtest.colour_close(xtest.pixel(png, *one.accept_fill), BUTTON),
                         "the accept button to be enabled")
        click(wid, one.accept)
        self.assertEqual(program.wait(10), 0)
        self.assertEqual(program.stdout(), os.path.join(self.start, "a.pkg") + "\n")

    def test_escape_changes_nothing(self):
        program, wid = self.run_setup("update")
        shots = Shots(wid)
        self.addCleanup(shots.cleanup)
        click(wid, Layout(mode="update").toggle)
        typed = Layout(mode="update", manual=True)
        time.sleep(0.2)
        click(wid, typed.field)
        xtest.type_text(wid, os.path.join(self.root, "elsewhere.pkg"))
        click(wid, typed.add)
        time.sleep(0.3)
        one = Layout(mode="update", manual=True, chosen=1)
        click(wid, one.field)
        xtest.type_text(wid, "not a package")
        click(wid, one.add)
        refused = Layout(mode="update", manual=True, chosen=1, notice=True)
        shots.wait_until(lambda png: has_colour(png, notice_box(refused), NOTICE), "the refusal notice")

        park_mouse(wid)
        before = shots.take()
        click(wid, refused.select)
        pid, zenity = self.chooser(program)
        xtest.key(zenity, "Escape")
        self.wait_gone(pid)
        # Not a pixel changed: same notice text, same package, no chooser line.
        park_mouse(wid)
        shots.wait_until(lambda png: same_picture(png, before), "the screen as before the chooser")
        click(wid, refused.toggle)
        click(wid, Layout(mode="update", chosen=1, notice=True).accept)
        self.assertEqual(program.wait(10), 0)
        self.assertEqual(program.stdout(), os.path.join(self.root, "elsewhere.pkg") + "\n")

    def test_close_request_waits_for_the_chooser(self):
        program, wid = self.run_setup("dlc_later")
        click(wid, Layout(mode="dlc_later").select)
        pid, zenity = self.chooser(program)
        xtest.close_request(wid)
        time.sleep(0.5)
        self.assertTrue(program.running())
        self.type_location(zenity, "b.pkg")
        self.assertEqual(program.wait(15), 1)
        self.assertEqual(program.stdout(), "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
