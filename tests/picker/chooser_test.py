"""The selection screen with a scripted chooser (a zenity stand-in first on
PATH) and with no chooser at all, run for real: picks, typed paths, the two
closing buttons and a close request while the chooser is open."""
import os
import shutil
import signal
import subprocess
import time
import unittest

import xtest
from pickertest import (BUTTON, BUTTON_HOVERED, DISABLED_BUTTON, FIELD, NOTICE, FakeZenity, Layout, Shots,
                        click, has_colour, make_env, notice_box, park_mouse, path_without_zenity, pkg_tree,
                        settled_window)


class Session:
    """One run of orbex-setup with its window and screenshots."""

    def __init__(self, test, mode, env, cwd=None, **kw):
        self.mode = mode
        self.program = xtest.setup_program("--mode", mode, env=env, cwd=cwd, **kw)
        test.addCleanup(self.program.kill)
        self.wid = settled_window(self.program)
        test.addCleanup(self.program.out.close)
        test.addCleanup(self.program.err.close)
        self.shots = Shots(self.wid)
        test.addCleanup(self.shots.cleanup)
        time.sleep(0.3)

    def layout(self, **state):
        return Layout(mode=self.mode, **state)

    def pixel(self, point):
        park_mouse(self.wid)
        return xtest.pixel(self.shots.take(), *point)

    def wait_accept_enabled(self, layout):
        self.shots.wait_until(lambda png: xtest.colour_close(xtest.pixel(png, *layout.accept_fill), BUTTON),
                              "the accept button to be enabled")

    def wait_notice(self, layout, shown=True):
        self.shots.wait_until(lambda png: has_colour(png, notice_box(layout), NOTICE) == shown,
                              f"the notice to be {'shown' if shown else 'gone'}")

    def finish(self, timeout=10):
        code = self.program.wait(timeout)
        return code, self.program.stdout()


class ScriptedChooser(unittest.TestCase):
    def setUp(self):
        self.zenity = FakeZenity()
        self.addCleanup(self.zenity.cleanup)

    def tree(self, names):
        root = pkg_tree(names)
        self.addCleanup(shutil.rmtree, root, True)
        return root

    def first_pick(self, s, names):
        """Opens the chooser, answers it with names and returns the layout
        (the same for any number chosen) once the accept button is enabled."""
        click(s.wid, s.layout().select)
        self.zenity.call(0)
        self.zenity.answer(names)
        picked = s.layout(chosen=1)
        s.wait_accept_enabled(picked)
        return picked

    def test_dlc_pick_in_any_order_prints_path_order(self):
        root = self.tree(["start/x", "late/c.pkg", "early/a.pkg", "early/b.PKG"])
        s = Session(self, "dlc", self.zenity.env(start_dir=os.path.join(root, "start")))
        empty = s.layout()
        click(s.wid, empty.select)
        args = self.zenity.call(0)
        self.assertIn("--multiple", args)
        self.assertEqual(args[args.index("--filename") + 1], os.path.join(root, "start") + "/")
        self.assertIn("--file-filter=PS4 PKG files | *.pkg", args)

        # Three names, the first from another folder than the rest.
        picked = [os.path.join(root, "late/c.pkg"), os.path.join(root, "early/b.PKG"),
                  os.path.join(root, "early/a.pkg")]
        self.zenity.answer(picked)
        three = s.layout(chosen=3)
        s.wait_accept_enabled(three)

        # The next chooser opens in the folder of the pick's first name;
        # cancelling it, as zenity reports a cancel, changes nothing.
        click(s.wid, three.select)
        args = self.zenity.call(1)
        self.assertEqual(args[args.index("--filename") + 1], os.path.join(root, "late") + "/")
        self.zenity.answer(status=1)
        time.sleep(0.3)
        self.assertFalse(has_colour(s.shots.take(), notice_box(three), NOTICE))
        click(s.wid, three.accept)
        self.assertEqual(s.finish(), (0, "".join(p + "\n" for p in sorted(picked))))

    def test_update_keeps_one_package_and_a_refused_pick_keeps_it(self):
        root = self.tree(["a.pkg", "b.pkg", "notes.txt"])
        s = Session(self, "update", self.zenity.env(start_dir=root))
        click(s.wid, s.layout().select)
        self.assertNotIn("--multiple", self.zenity.call(0))
        self.zenity.answer([os.path.join(root, "a.pkg")])

        one = s.layout(chosen=1)
        s.wait_accept_enabled(one)
        click(s.wid, one.select)
        self.zenity.call(1)
        self.zenity.answer([os.path.join(root, "notes.txt")])
        refused = s.layout(chosen=1, notice=True)
        s.wait_notice(refused)

        click(s.wid, refused.select)
        self.zenity.call(2)
        self.zenity.answer([os.path.join(root, "b.pkg")])
        s.wait_notice(refused, shown=False)
        click(s.wid, one.accept)
        self.assertEqual(s.finish(), (0, os.path.join(root, "b.pkg") + "\n"))

    def test_second_button_with_packages_chosen_prints_nothing(self):
        root = self.tree(["a.pkg", "b.pkg"])
        s = Session(self, "dlc_later", self.zenity.env(start_dir=root))
        two = self.first_pick(s, [os.path.join(root, "a.pkg"), os.path.join(root, "b.pkg")])
        click(s.wid, two.second)
        self.assertEqual(s.finish(), (1, ""))

    def test_one_line_per_file_whatever_its_spelling(self):
        root = self.tree(["pk/a.pkg"])
        os.symlink(os.path.join(root, "pk"), os.path.join(root, "linked"))
        s = Session(self, "dlc", self.zenity.env(start_dir=root))
        first, *others = [os.path.join(root, name) for name in ("pk/./a.pkg", "pk/a.pkg", "linked/a.pkg")]
        one = self.first_pick(s, [first, *others])
        click(s.wid, one.accept)
        self.assertEqual(s.finish(), (0, first + "\n"))

    def test_a_name_holding_a_line_feed_is_refused(self):
        # The chooser answers one name a line, so the name arrives in two
        # pieces; the second names a package in the current folder.
        root = self.tree(["a.pkg", "a.pkg\nb.pkg", "here/b.pkg"])
        s = Session(self, "update", self.zenity.env(start_dir=root), cwd=os.path.join(root, "here"))
        click(s.wid, s.layout().select)
        self.zenity.call(0)
        self.zenity.answer([os.path.join(root, "a.pkg\nb.pkg")])
        refused = s.layout(notice=True)
        s.wait_notice(refused)
        self.assertTrue(xtest.colour_close(s.pixel(refused.accept_fill), DISABLED_BUTTON, 6))
        xtest.close_request(s.wid)
        self.assertEqual(s.finish(), (1, ""))

    def test_close_request_waits_for_the_chooser_and_drops_its_answer(self):
        root = self.tree(["a.pkg"])
        s = Session(self, "dlc", self.zenity.env(start_dir=root))
        click(s.wid, s.layout().select)
        self.zenity.call(0)
        waiting = s.layout(chooser_open=True)
        # Both closing buttons wait for the chooser too.
        self.assertTrue(xtest.colour_close(s.pixel(waiting.second_fill), DISABLED_BUTTON, 6))

        xtest.close_request(s.wid)
        # The terminal that started it going away is one more such request.
        s.program.proc.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        self.assertTrue(s.program.running())
        # Still drawing: the toggle lights up under the pointer.
        xtest.xdotool("mousemove", "--window", str(s.wid), *map(str, waiting.toggle))
        toggle_box = (8, waiting.toggle[1] - 8, 150, 16)
        s.shots.wait_until(lambda png: has_colour(png, toggle_box, BUTTON_HOVERED),
                           "the toggle to show hovered")

        self.zenity.answer([os.path.join(root, "a.pkg")])
        self.assertEqual(s.finish(), (1, ""))

    def test_typed_path_and_the_next_chooser_start(self):
        root = self.tree(["games/a.pkg", "other/b.pkg"])
        s = Session(self, "update", self.zenity.env(start_dir=root), cwd=os.path.join(root, "other"))
        empty = s.layout()
        click(s.wid, empty.toggle)
        typed = s.layout(manual=True)
        s.shots.wait_until(lambda png: xtest.colour_close(xtest.pixel(png, 20, typed.field[1]), FIELD),
                           "the path field")

        # A trailing blank is refused and stays in the field; Enter adds nothing.
        click(s.wid, typed.field)
        xtest.type_text(s.wid, os.path.join(root, "games/a.pkg") + " ")
        click(s.wid, typed.add)
        refused = s.layout(manual=True, notice=True)
        s.wait_notice(refused)
        click(s.wid, refused.field)
        xtest.key(s.wid, "BackSpace")
        xtest.key(s.wid, "Return")
        time.sleep(0.3)
        self.assertTrue(xtest.colour_close(s.pixel(refused.accept_fill), DISABLED_BUTTON, 6))
        click(s.wid, refused.add)
        one = s.layout(manual=True, chosen=1)
        s.wait_notice(refused, shown=False)
        self.assertTrue(xtest.colour_close(s.pixel(one.accept_fill), BUTTON))

        # The next chooser opens where the typed package lies.
        click(s.wid, one.select)
        args = self.zenity.call(0)
        self.assertEqual(args[args.index("--filename") + 1], os.path.join(root, "games") + "/")
        self.zenity.answer(status=1)

        # A name relative to the current folder replaces the update package,
        # kept absolute. The field was emptied by the first success.
        click(s.wid, one.field)
        xtest.type_text(s.wid, "b.pkg")
        click(s.wid, one.add)
        time.sleep(0.3)
        click(s.wid, one.accept)
        self.assertEqual(s.finish(), (0, os.path.join(root, "other/b.pkg") + "\n"))


class NoChooser(unittest.TestCase):
    def test_missing_chooser_offers_the_path_field(self):
        root = pkg_tree(["c.pkg", "a.pkg"])
        self.addCleanup(shutil.rmtree, root, True)
        no_zenity = path_without_zenity()
        self.addCleanup(shutil.rmtree, no_zenity, True)
        s = Session(self, "dlc", make_env(path=no_zenity, start_dir=root))

        click(s.wid, s.layout().select)
        failed = s.layout(notice=True, manual=True)
        s.wait_notice(failed)
        self.assertTrue(xtest.colour_close(s.pixel((20, failed.field[1])), FIELD))
        # The chooser button can be pressed again, and fails the same way.
        click(s.wid, failed.select)
        time.sleep(0.3)
        self.assertTrue(xtest.colour_close(s.pixel((20, failed.field[1])), FIELD))

        click(s.wid, failed.field)
        xtest.type_text(s.wid, os.path.join(root, "c.pkg"))
        click(s.wid, failed.add)
        s.wait_notice(failed, shown=False)
        one = s.layout(manual=True, chosen=1)
        click(s.wid, one.field)
        xtest.type_text(s.wid, os.path.join(root, "a.pkg"))
        click(s.wid, one.add)
        time.sleep(0.3)
        # Clearing empties the whole list and disables the accept button.
        click(s.wid, s.layout(manual=True, chosen=2).clear)
        self.assertTrue(xtest.colour_close(s.pixel(s.layout(manual=True).accept_fill), DISABLED_BUTTON, 6))
        click(s.wid, s.layout(manual=True).field)
        xtest.type_text(s.wid, os.path.join(root, "a.pkg"))
        click(s.wid, s.layout(manual=True).add)
        time.sleep(0.3)
        click(s.wid, one.accept)
        self.assertEqual(s.finish(), (0, f"{root}/a.pkg\n"))

    def test_result_lines_that_do_not_arrive_end_with_2(self):
        root = pkg_tree(["a.pkg"])
        self.addCleanup(shutil.rmtree, root, True)
        no_zenity = path_without_zenity()
        self.addCleanup(shutil.rmtree, no_zenity, True)
        full = open("/dev/full", "wb")
        self.addCleanup(full.close)
        reader, no_reader = os.pipe()
        os.close(reader)
        self.addCleanup(os.close, no_reader)
        for what, stdout, preexec_fn in (("a full disk", full, None), ("a pipe nobody reads", no_reader, None),
                                         ("closed", subprocess.DEVNULL, lambda: os.close(1))):
            with self.subTest(stdout=what):
                s = Session(self, "dlc", make_env(path=no_zenity), stdout=stdout, preexec_fn=preexec_fn)
                click(s.wid, s.layout().toggle)
                typed = s.layout(manual=True)
                click(s.wid, typed.field)
                xtest.type_text(s.wid, os.path.join(root, "a.pkg"))
                click(s.wid, typed.add)
                one = s.layout(manual=True, chosen=1)
                s.wait_accept_enabled(one)
                click(s.wid, one.accept)
                self.assertEqual(s.program.wait(10), 2)
                err = s.program.stderr()
                lines = [line for line in err.splitlines() if not line.startswith("Vantorra setup")]
                self.assertEqual(len(lines), 1, err)
                self.assertRegex(lines[0], r"^Setup result not delivered: \S", err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
