"""End-to-end runs of Morvane in folders laid out like the unpacked archive,
with a stand-in host. Usage: e2e_morvane.py <case>; the cases are below."""
import errno
import os
import signal
import sys
import time

import xtest
from morvanetest import (AccessibilityBus, Archive, check, check_program_icon,
                         expect_message_on_stderr, process_alive)
from morvane_messages import message

PAGE_GREEN = (32, 160, 96)


def wait_gone(pid, what, timeout=5):
    xtest.wait_for(lambda: not process_alive(pid), timeout=timeout, what=what)


def window_of(program, timeout=20):
    wid = program.window(timeout=timeout)
    xtest.wait_for(lambda: xtest.window_name(wid) == "Morvane", timeout=5,
                   what="the window title Morvane")
    return wid


def case_normal():
    """Host found and started, port awaited, page shown; closing ends the host."""
    with Archive() as archive:
        archive.add_program()
        script = archive.add_host("morvane")
        python = archive.add_python("python/bin/python3")
        # Left behind by a host that has ended: nothing answers there.
        archive.write("launcher.port", "1\n")
        # The host takes a while before it listens, so the wait reads the file anew.
        with archive.run(host_mode="delay:0.7") as program:
            wid = window_of(program)
            hosts = archive.records("start")
            check(len(hosts) == 1, f"one host expected, saw {hosts}")
            host = hosts[0]
            check(host["argv"] == [script, "--no-browser"], f"host arguments {host['argv']}")
            check(host["executable"] == python, f"host interpreter {host['executable']}")
            check(host["cwd"] == archive.game, f"host folder {host['cwd']}")
            check(host["sid"] == host["pid"], "the host should lead its own session")
            check(host["fds"] == {"0": "/dev/null", "1": "/dev/null", "2": "/dev/null"},
                  f"host descriptors {host['fds']}")

            port = open(archive.path("launcher.port")).read().strip()
            requests = xtest.wait_for(lambda: archive.records("request"), timeout=15,
                                      what="the page request")
            check(requests[0]["path"] == "/" and requests[0]["host"] == f"127.0.0.1:{port}",
                  f"page request {requests[0]}")
            check(xtest.window_geometry(wid)[2:] == (1100, 780),
                  f"window size {xtest.window_geometry(wid)}")
            check_program_icon(wid)

            def page_drawn():
                shot = xtest.screenshot(wid)
                try:
                    return xtest.colour_close(xtest.pixel(shot, 550, 500), PAGE_GREEN, 6)
                finally:
                    os.unlink(shot)
            xtest.wait_for(page_drawn, timeout=15, interval=0.3, what="the host's page on screen")

            check(process_alive(host["pid"]), "the host should run while the window is open")
            xtest.close_request(wid)
            code = program.wait(timeout=15)
            check(code == 0, f"exit code {code}, expected 0")
            wait_gone(host["pid"], "the host to be ended with the window")
            # Its port is no longer the host's: the next launch must not use it.
            check(not os.path.exists(archive.path("launcher.port")),
                  "launcher.port should be removed with the host")


def case_early_probe():
    """A host already answers: nothing is searched or started, and it survives."""
    with Archive() as archive:
        archive.add_program()  # alone: no host script, no Python
        own = archive.start_own_host(port_folder=archive.root)  # launcher.port in the parent
        with archive.run() as program:
            wid = window_of(program)
            xtest.wait_for(lambda: archive.records("request"), timeout=15,
                           what="the page request to the running host")
            check(len(archive.records("start")) == 1, "no second host may be started")
            xtest.close_request(wid)
            code = program.wait(timeout=15)
            check(code == 0, f"exit code {code}, expected 0")
            time.sleep(0.3)
            check(own.poll() is None, "a host the launcher did not start must survive it")
            check(os.path.exists(os.path.join(archive.root, "launcher.port")),
                  "the running host's launcher.port must stay")


def page_requests(archive):
    return len(archive.records("request"))


def show_and_close(archive, program, asked, what):
    """The window opens, asks the host for its page (`asked` requests came
    before the start: the page may be asked for before the window shows)
    and stays until it is closed; then the launcher exits with 0."""
    wid = window_of(program)
    xtest.wait_for(lambda: page_requests(archive) > asked, timeout=15,
                   what=f"{what}: the page request")
    time.sleep(1)
    check(program.running() and xtest.windows_of(pid=program.pid) == [wid],
          f"{what}: the window should stay until it is closed")
    xtest.close_request(wid)
    code = program.wait(timeout=15)
    check(code == 0, f"{what}: exit code {code}, expected 0")


def case_closed_streams():
    """Started with standard input and error closed, on both roads: nothing
    the launcher opens later may take their numbers, or the toolkit's
    warnings would reach it (a stop request read from a pipe, junk in the
    display's connection)."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host()
        archive.add_python()
        asked = page_requests(archive)
        with archive.run(closed_streams=(0, 2)) as program:
            show_and_close(archive, program, asked, "host started")
            host = archive.records("start")[-1]["pid"]
            wait_gone(host, "the host to be ended with the window")

        own = archive.start_own_host(port_folder=archive.game)
        asked = page_requests(archive)
        with archive.run(closed_streams=(0, 2)) as program:
            show_and_close(archive, program, asked, "host already answering")
        check(own.poll() is None, "a host the launcher did not start must survive it")


def case_second_start():
    """A player who starts the launcher again while the first start still
    waits for its slow host: one of the two (the second, unless it reached
    its mark first) ends at once with 0, starting and showing nothing, and
    the other goes on with its one host and window. Once both have ended, a
    new start works."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host()
        archive.add_python()
        with archive.run(host_mode="delay:1") as one:
            time.sleep(0.02)
            with archive.run(host_mode="delay:1") as other:
                gave_way, first = xtest.one_gives_way(one, other, timeout=5)
                check(gave_way.stderr() == "", f"the start that gave way said {gave_way.stderr()!r}")
                wid = window_of(first)
                xtest.wait_for(lambda: archive.records("request"), timeout=15,
                               what="the page request")
                check(len(archive.records("start")) == 1,
                      f"one host expected, saw {archive.records('start')}")
                check(xtest.windows_of(name="^Morvane$") == [wid], "one window expected")
                xtest.close_request(wid)
                code = first.wait(timeout=15)
                check(code == 0, f"the start that went on: exit code {code}, expected 0")
        asked = page_requests(archive)
        with archive.run() as third:
            show_and_close(archive, third, asked, "a start after both ended")
        check(len(archive.records("start")) == 2, "the third start should start its own host")


def case_no_script():
    """No host script in any of its places: the message in both languages."""
    with Archive() as archive:
        archive.add_program()
        archive.add_python()
        archive.write("morvane/launcher.py", "")  # near misses do not count
        for french in (False, True):
            with archive.run(display=False, french=french) as program:
                expect_message_on_stderr(program, message("no_script", french))
        # A desktop's French interface on an English locale.
        with archive.run(display=False, extra_env={"LANG": "en_US.UTF-8",
                                                   "LANGUAGE": "fr:en"}) as program:
            expect_message_on_stderr(program, message("no_script", True))
        check(not archive.records("start"), "no host may be started")


def case_no_python():
    """A host script but no interpreter anywhere: the message, nothing started."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host("../launcher/morvane")
        archive.write("../launcher/morvane/python.txt", archive.root + "/nowhere/python3\n")
        empty_path = os.path.join(archive.root, "empty-bin")
        os.makedirs(empty_path)
        for french in (False, True):
            with archive.run(display=False, french=french, path=empty_path) as program:
                expect_message_on_stderr(program, message("no_python", french))
        check(not archive.records("start"), "no host may be started")


def case_start_failure():
    """Interpreters that exist but can't run: the message names the path."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host("launcher/morvane")
        folder = os.path.join(archive.root, "a-folder")
        os.makedirs(folder)
        archive.write("launcher/morvane/python.txt", folder + " \r\n")
        with archive.run(display=False) as program:
            expect_message_on_stderr(program, message("start_failure", False, folder))
            reason = os.strerror(errno.EACCES)
            check(f"Morvane host start: exec: {reason}" in program.stderr().splitlines(),
                  f"no reason line in {program.stderr()!r}")
        # The archive's own place wins over python.txt; here it holds no program.
        not_a_program = archive.write("python/bin/python3", "just text\n", mode=0o755)
        with archive.run(display=False, french=True) as program:
            expect_message_on_stderr(program, message("start_failure", True, not_a_program))
            reason = os.strerror(errno.ENOEXEC)
            check(f"Morvane host start: exec: {reason}" in program.stderr().splitlines(),
                  f"no reason line in {program.stderr()!r}")
        check(not archive.records("start"), "no host may be started")


def case_time_out():
    """A host that never listens: 80 probes, the box, and only then the host ends.
    The browser library is missing too: the launcher tries it during the wait,
    but its box belongs after the wait, so only the time-out box shows."""
    with Archive() as archive, AccessibilityBus() as bus:
        archive.add_program(with_library=False)
        archive.add_host("launcher/morvane")
        archive.add_python("../python/bin/python3")
        started = time.monotonic()
        with archive.run(host_mode="never-listen", extra_env=bus.env) as program:
            wid = window_of(program, timeout=30)
            waited = time.monotonic() - started
            check(waited >= 8.0, f"the box came after {waited:.1f} s, before 80 pauses of 100 ms")
            text = bus.dialog_text()
            check(text == message("time_out"), f"box text {text!r}")
            check_program_icon(wid)
            host = archive.records("start")[0]["pid"]
            time.sleep(0.5)
            check(process_alive(host), "the host must run until the box is closed")
            check(program.running(), "the box must hold the launcher")
            xtest.close_request(wid)
            code = program.wait(timeout=10)
            check(code == 1, f"exit code {code}, expected 1")
            wait_gone(host, "the host to be ended after the box")


def case_signals():
    """A signal ends the host this run started, as closing the window does,
    and the launcher with 1: SIGTERM during the port wait, SIGHUP with the
    window open (the host's own child, the game, lives on); SIGKILL leaves
    nothing to the launcher, and the host dies with it all the same, and a
    new start then works."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host()
        archive.add_python()
        with archive.run(host_mode="never-listen") as program:
            xtest.wait_for(lambda: archive.records("start"), timeout=15, what="the host to start")
            host = archive.records("start")[-1]["pid"]
            program.proc.send_signal(signal.SIGTERM)
            code = program.wait(timeout=5)
            check(code == 1, f"SIGTERM in the port wait: exit code {code}, expected 1")
            wait_gone(host, "the host to be ended after SIGTERM")

        with archive.run(extra_env={"ORBEX_TEST_HOST_GAME": "1"}) as program:
            window_of(program)
            host = archive.records("start")[-1]["pid"]
            game = archive.records("game")[-1]["pid"]
            program.proc.send_signal(signal.SIGHUP)
            code = program.wait(timeout=10)
            check(code == 1, f"SIGHUP with the window open: exit code {code}, expected 1")
            wait_gone(host, "the host to be ended after SIGHUP")
            check(not os.path.exists(archive.path("launcher.port")),
                  "launcher.port should be removed with the host")
            check(process_alive(game), "what the host started must outlive the launcher")

        with archive.run() as program:
            window_of(program)
            host = archive.records("start")[-1]["pid"]
            program.proc.send_signal(signal.SIGKILL)
            program.wait(timeout=5)
            wait_gone(host, "the host to die with the launcher")
        asked = page_requests(archive)
        with archive.run() as program:
            show_and_close(archive, program, asked, "a start after SIGKILL")


def case_webview_missing():
    """No browser library beside the program: the box (in French), then the host ends."""
    with Archive() as archive, AccessibilityBus() as bus:
        archive.add_program(with_library=False)
        archive.add_host()
        archive.add_python()
        with archive.run(french=True, extra_env=bus.env) as program:
            wid = window_of(program)
            text = bus.dialog_text()
            check(text == message("webview", french=True), f"box text {text!r}")
            check(len(xtest.windows_of(pid=program.pid)) == 1, "only the box may be shown")
            host = archive.records("start")[0]["pid"]
            check(process_alive(host), "the host must run until the box is closed")
            xtest.key(wid, "Return")
            code = program.wait(timeout=10)
            check(code == 1, f"exit code {code}, expected 1")
            wait_gone(host, "the host to be ended after the box")


def case_webview_no_display():
    """No display for the browser: the message, the host ended; python.txt's interpreter."""
    with Archive() as archive:
        archive.add_program()
        archive.add_host()
        archive.write("morvane/python.txt", os.path.realpath(sys.executable) + "\n")
        with archive.run(display=False) as program:
            expect_message_on_stderr(program, message("webview"), timeout=20)
        hosts = archive.records("start")
        check(len(hosts) == 1, f"one host expected, saw {hosts}")
        check(hosts[0]["executable"] == os.path.realpath(sys.executable),
              f"python.txt's interpreter expected, got {hosts[0]['executable']}")
        wait_gone(hosts[0]["pid"], "the host to be ended after the message")


if __name__ == "__main__":
    globals()["case_" + sys.argv[1]]()
    print(f"{sys.argv[1]}: passed")
