"""Morvane handed hostile files beside it: launcher.port with numbers out of
any range or binary junk, or naming a frozen host, python.txt with binary
junk, a name full of printf conversions, quotes, blanks and bytes that are
no UTF-8, Morvane's own name or a giant size, a game folder named the same
way, and a program folder deeper than the system's path limit. Run without
a display, so that each message reaches standard error and a run takes a
moment: each must end with the message its files call for, never crash or
hang, and write nothing."""
import os
import socket
import sys
import time
import unittest

from hostile import HOSTILE
from xtest import Snapshot, check_unchanged, ended, raw_stderr, write_bytes

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher"))
from morvanetest import (SYSTEM_PYTHON, Archive, FrozenPort, process_alive,  # noqa: E402
                         stderr_message)
from morvane_messages import message  # noqa: E402

import xtest  # noqa: E402

RUN_TIMEOUT = 20  # the port wait alone may take 8 s


class Listener:
    """A port on which something answers, and whether anyone came."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.socket.setblocking(False)
        self.port = self.socket.getsockname()[1]

    def visits(self):
        count = 0
        while True:
            try:
                conn, _ = self.socket.accept()
            except BlockingIOError:
                return count
            conn.close()
            count += 1

    def close(self):
        self.socket.close()


class HostileArchive(Archive):
    """The archive with its game folder given a hostile name."""

    def __init__(self, hostile_name=False):
        super().__init__()
        if hostile_name:
            os.rmdir(self.game)
            self.game = os.path.join(self.root, os.fsdecode(b"game " + HOSTILE))
            os.makedirs(self.game)

    def put(self, relative, data):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        write_bytes(full, data)
        return full


def outcome(program):
    code = ended(program, RUN_TIMEOUT, "Morvane")
    return code, stderr_message(program)


class HostileFiles(unittest.TestCase):
    def archive(self, hostile_name=False):
        archive = HostileArchive(hostile_name)
        self.addCleanup(archive.__exit__, None, None, None)
        archive.add_program()
        return archive

    def test_launcher_port_out_of_range_or_junk_names_no_port(self):
        live = Listener()
        self.addCleanup(live.close)
        archive = self.archive()
        # Without a host script, a place that names no port ends in the
        # no-script message; one that does would open the window instead.
        junk = [
            b"99999999999999999999\n",
            b"4294967296\n",
            b"%d\n" % (live.port + 65536),            # its low 16 bits are the live port
            b"%d\n" % (live.port + 3 * 65536),
            b"-%d\n" % (65536 - live.port),           # so are a negative number's
            b"0x%x\n" % live.port,
            b"\xef\xbc\x91\xef\xbc\x92\n",            # fullwidth digits
            b"+-5\n",
            b"\xff\xfe\x00\x01" + HOSTILE,
            b"\x00" * 64,
            bytes(range(256)) * 8,
            b" \t\r\n",
            b"",
        ]
        for data in junk:
            for place in ("launcher.port", "../launcher.port"):
                with self.subTest(place=place, data=data[:24]):
                    archive.put(place, data)
                    try:
                        before = Snapshot(archive.root)
                        with archive.run(display=False) as program:
                            self.assertEqual(outcome(program), (1, message("no_script")))
                        check_unchanged(before, "a run that found no port")
                    finally:
                        os.remove(archive.path(place))
        # Entries that are no file: a folder, and a FIFO that nobody writes,
        # which must not hold the launcher.
        os.mkdir(archive.path("launcher.port"))
        with archive.run(display=False) as program:
            self.assertEqual(outcome(program), (1, message("no_script")))
        os.rmdir(archive.path("launcher.port"))
        os.mkfifo(archive.path("launcher.port"))
        with archive.run(display=False) as program:
            self.assertEqual(outcome(program), (1, message("no_script")))
        self.assertEqual(live.visits(), 0, "a port out of range was tried")

        # The same port written plainly, or followed by junk, is the live one:
        # the window steps follow, and without a display they end in the
        # browser message.
        for data in (b"%d\n" % live.port, b"%d\x00\xff" % live.port + HOSTILE):
            archive.put("../launcher.port", data)
            with archive.run(display=False) as program:  # behind the FIFO
                self.assertEqual(outcome(program), (1, message("webview")))
            self.assertGreaterEqual(live.visits(), 1, f"the port in {data!r} was not tried")
            os.remove(archive.path("launcher.port"))
            archive.put("launcher.port", b"\xff\xfe junk")
            with archive.run(display=False) as program:
                self.assertEqual(outcome(program), (1, message("webview")))
            self.assertGreaterEqual(live.visits(), 1, f"the port in {data!r} was not tried")
        self.assertEqual(archive.records("start"), [], "no host may be started")

    def test_python_txt_junk_is_passed_over(self):
        archive = self.archive()
        archive.add_host("morvane")
        no_python = os.path.join(archive.root, "no-python")
        with_python = os.path.join(archive.root, "with-python")
        os.makedirs(no_python)
        os.makedirs(with_python)
        os.symlink(SYSTEM_PYTHON, os.path.join(with_python, "python3"))
        # Beside it a `python` that is no Python 3 (an old Python 2, say): it
        # would fail at once and leave the player to the port wait's end.
        with open(os.path.join(with_python, "python"), "w") as f:
            f.write("#!/bin/sh\nexit 1\n")
        os.chmod(os.path.join(with_python, "python"), 0o755)
        # The launcher itself, which would start launchers without end, and
        # a real interpreter's name in a file longer than any path.
        itself = os.fsencode(archive.path("Morvane")) + b"\n"
        giant = os.fsencode(SYSTEM_PYTHON) + b"\n" * (64 * 1024)
        for data in (bytes(range(256)) * 4, b"\xff\xfe" + HOSTILE + b"/python3\t\n", b"\x00" * 32 + b"\n",
                     itself, giant):
            with self.subTest(data=data[:24], size=len(data)):
                archive.put("morvane/python.txt", data)
                before = Snapshot(archive.root)
                with archive.run(display=False, path=no_python) as program:
                    self.assertEqual(outcome(program), (1, message("no_python")))
                check_unchanged(before, "a run that found no Python")
                # Further on the search path there is one: python3 is used.
                with archive.run(display=False, path=with_python) as program:
                    self.assertEqual(outcome(program), (1, message("webview")))
                host = archive.records("start")[-1]
                self.assertEqual(host["executable"], os.path.join(with_python, "python3"))
                xtest.wait_for(lambda: not process_alive(host["pid"]), timeout=5, what="the host to be ended")

    def test_python_txt_that_is_no_file_is_passed_over(self):
        archive = self.archive()
        archive.add_host("morvane")
        with_python = os.path.join(archive.root, "with-python")
        os.makedirs(with_python)
        os.symlink(SYSTEM_PYTHON, os.path.join(with_python, "python3"))
        txt = archive.path("morvane/python.txt")
        for make, what in ((os.mkfifo, "a FIFO nobody writes"), (lambda p: os.symlink("/dev/zero", p), "/dev/zero")):
            with self.subTest(what=what):
                make(txt)
                with archive.run(display=False, path=with_python) as program:
                    self.assertEqual(outcome(program), (1, message("webview")))
                host = archive.records("start")[-1]
                self.assertEqual(host["executable"], os.path.join(with_python, "python3"))
                xtest.wait_for(lambda: not process_alive(host["pid"]), timeout=5, what="the host to be ended")
                os.remove(txt)

    def test_frozen_host_named_in_launcher_port_is_passed_over_within_seconds(self):
        frozen = FrozenPort()
        self.addCleanup(frozen.close)
        archive = self.archive()
        archive.put("launcher.port", b"%d\n" % frozen.port)
        started = time.monotonic()
        with archive.run(display=False) as program:
            self.assertEqual(outcome(program), (1, message("no_script")))
        # Left to the system, the one connection attempt takes minutes.
        self.assertLess(time.monotonic() - started, 5, "the frozen host held the launcher")

    def test_unknown_program_folder_searches_nothing(self):
        # Beyond the path limit the system can't name the program's folder.
        # What lies where an empty folder name would lead (launcher.port in
        # the current folder) must not be used.
        live = Listener()
        self.addCleanup(live.close)
        archive = self.archive()
        steps = ["d" * 200] * 22
        deep = os.open(archive.root, os.O_RDONLY)
        for step in steps:
            os.mkdir(step, dir_fd=deep)
            inner = os.open(step, os.O_RDONLY, dir_fd=deep)
            os.close(deep)
            deep = inner
        for name, data in (("Morvane", open(archive.path("Morvane"), "rb").read()),
                           ("launcher.port", b"%d\n" % live.port)):
            fd = os.open(name, os.O_WRONLY | os.O_CREAT, 0o755, dir_fd=deep)
            os.write(fd, data)
            os.close(fd)
        os.close(deep)
        walk = "import os, sys\nfor step in sys.argv[1:]: os.chdir(step)\nos.execv('./Morvane', ['Morvane'])\n"
        env = {name: value for name, value in os.environ.items()
               if name not in ("DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_MESSAGES", "LANGUAGE")}
        env["LANG"] = "C.UTF-8"
        program = xtest.Program([SYSTEM_PYTHON, "-c", walk, archive.root, *steps], env=env)
        with program:
            code = ended(program, RUN_TIMEOUT, "Morvane")
            self.assertEqual((code, stderr_message(program)), (1, message("no_script")))
        self.assertEqual(live.visits(), 0, "launcher.port in the current folder was tried")

    def test_hostile_names_reach_the_host_and_the_message_unchanged(self):
        archive = self.archive(hostile_name=True)
        script = archive.add_host("morvane")
        python = archive.add_python("python/bin/python3")
        with archive.run(display=False) as program:
            self.assertEqual(outcome(program), (1, message("webview")))
        host = archive.records("start")[0]
        self.assertEqual(host["argv"], [script, "--no-browser"])
        self.assertEqual(host["executable"], python)
        self.assertEqual(host["cwd"], archive.game)
        xtest.wait_for(lambda: not process_alive(host["pid"]), timeout=5, what="the host to be ended")

        # An interpreter named in python.txt that exists but cannot run: the
        # message names it byte for byte.
        os.remove(python)
        not_a_program = archive.put(os.fsdecode(b"morvane/" + HOSTILE + b" python"), b"not a program\n")
        archive.put("morvane/python.txt", os.fsencode(not_a_program) + b" \r\n")
        before = Snapshot(archive.root)
        with archive.run(display=False, path=os.path.join(archive.root, "nowhere")) as program:
            code = ended(program, RUN_TIMEOUT, "Morvane")
            self.assertEqual(code, 1)
            lines = [line for line in raw_stderr(program).split(b"\n") if line.startswith(b"Morvane: ")]
        self.assertEqual(lines, [b"Morvane: Python did not start: " + os.fsencode(not_a_program)])
        check_unchanged(before, "a run whose interpreter could not start")


if __name__ == "__main__":
    unittest.main(verbosity=2)
