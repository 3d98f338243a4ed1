"""The Windows programs of dist/windows run under Wine on the test X server.
Usage: wine_e2e.py <case>; the cases are below.

Morvane.exe runs in a folder laid out like the unpacked archive, with the
stand-in interpreter tools/test_python.c as its Python. Wine has no WebView2
runtime, so the real libwebview.dll ends every host road with the WebView2
message; the roads past it (the window, its icon, a normal close) run with
the stand-in library tools/webview_stand_in.c in its place.
"""
import os
import shutil
import socket
import sys
import time

import winetest
import xtest
from morvane_messages import message
from winetest import check, windows_path

for folder in ("launcher", "picker", "hostile"):
    sys.path.insert(0, os.path.join(winetest.HERE, "..", folder))
from hostile import solid_png  # noqa: E402
from morvanetest import FrozenPort  # noqa: E402
from pickertest import BUTTON, FIELD, NOTICE, Layout, Shots, click, has_colour, notice_box  # noqa: E402

USAGE = "Usage: orbex-setup --mode update|dlc|dlc_later OR --mode progress|progress-dlc /path/status"
SETUP_TITLE = "Vantorra | Update and DLC Setup"
BAR_FILL = (46, 199, 107)  # the progress bar's fill
# Folder names as players have them: a French one, a Japanese one and one
# with an emoji (two UTF-16 units), none of them in the ANSI code page.
ACCENTED, JAPANESE, EMOJI = "Zo\u00e9", "\u30b2\u30fc\u30e0", "\U0001f3ae"


def port_answers(port):
    with socket.socket() as s:
        s.settimeout(2)
        return s.connect_ex(("127.0.0.1", port)) == 0


class Game:
    """A game folder in the session's folder, holding Morvane.exe the way the
    unpacked archive does; `exe_folder` is its Windows name."""

    def __init__(self, session, browser="real"):
        self.session = session
        self.folder = session.path("game")
        os.makedirs(self.folder)
        shutil.copy2(os.path.join(winetest.DIST, "Morvane.exe"), self.folder)
        library = (os.path.join(winetest.DIST, "libwebview.dll") if browser == "real"
                   else os.path.join(winetest.TOOLS, "libwebview.dll"))
        shutil.copy2(library, self.folder)
        self.exe_folder = windows_path(self.folder)
        self.host_report = session.path("host-report.txt")
        self.browser_report = session.path("browser-report.txt")

    def path(self, relative):
        return os.path.join(self.folder, relative)

    def add(self, relative, content=""):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)
        return full

    def add_host_script(self, relative="morvane/launcher_host.py"):
        return self.add(relative, "# the game's launcher host\n")

    def add_python(self, relative="python/python.exe"):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"), full)
        return full

    def run(self, host_mode="serve", extra_env=None):
        env = {"ORBEX_TEST_HOST_REPORT": windows_path(self.host_report),
               "ORBEX_TEST_HOST_MODE": host_mode,
               "ORBEX_TEST_WEBVIEW_REPORT": windows_path(self.browser_report)}
        env.update(extra_env or {})
        return self.session.start(self.path("Morvane.exe"), extra_env=env)

    def hosts(self):
        return winetest.read_report(self.host_report)

    def wait_host(self, timeout=30):
        return xtest.wait_for(lambda: (self.hosts() or [None])[0], timeout=timeout,
                              what="the host to start")

    def browser_calls(self):
        if not os.path.exists(self.browser_report):
            return []
        with open(self.browser_report, encoding="utf-8") as f:
            return f.read().splitlines()

    def port(self):
        with open(self.path("launcher.port")) as f:
            return int(f.read().split()[0])


def expect_box(session, program, text):
    shown = session.box_text()
    check(shown == text, f"message {shown!r}, expected {text!r}")
    code = session.press_ok(program)
    check(code == 1, f"exit code {code}, expected 1")
    check(program.stdout() == "", f"unexpected output {program.stdout()!r}")


def case_no_script():
    """Alone in its folder, beside a launcher.port that names a frozen host
    (its accept queue full): the English message within seconds, exit code 1."""
    with winetest.Session() as session:
        game = Game(session)
        frozen = FrozenPort()
        try:
            game.add("launcher.port", f"{frozen.port}\n")
            started = time.monotonic()
            with game.run() as program:
                session.box_lines(timeout=60)
                waited = time.monotonic() - started
                # Left to the system, the one connection attempt takes minutes.
                check(waited < 45, f"the message came after {waited:.1f} s")
                expect_box(session, program, message("no_script"))
        finally:
            frozen.close()


def case_no_script_french():
    """The same in French when the user's language is French by LANG."""
    with winetest.Session() as session:
        french = winetest.french_locale_env()
        language = session.probe("language", extra_env=french)[1].strip()
        check(language == "040c", f"Wine reports the interface language {language} under {french}")
        game = Game(session)
        with game.run(extra_env=french) as program:
            expect_box(session, program, message("no_script", french=True))


def case_no_python():
    """A host script but no interpreter anywhere: the no-Python message, in
    English, then in French for any French variant (Canada by LC_ALL)."""
    with winetest.Session() as session:
        game = Game(session)
        game.add_host_script("launcher/morvane/launcher_host.py")
        game.add("launcher/morvane/python.txt", "C:\\nowhere\\python.exe\r\n")
        with game.run() as program:
            expect_box(session, program, message("no_python"))
        with game.run(extra_env={"LC_ALL": "fr_CA.UTF-8"}) as program:
            expect_box(session, program, message("no_python", french=True))
        check(game.hosts() == [], "no host may start")


def case_start_failure():
    """The archive's python.exe is a folder: it is found, and CreateProcessW
    fails on it; the message names the path as it was built."""
    with winetest.Session() as session:
        game = Game(session)
        game.add_host_script()
        os.makedirs(game.path("python/python.exe"))
        with game.run() as program:
            expect_box(session, program,
                       message("start_failure") + game.exe_folder + "\\python\\python.exe")


def case_host_start():
    """The main road under Wine: the host starts without a console in the
    game folder, the port wait finds it past a stale launcher.port, the real
    browser library finds no WebView2 runtime, the host is ended with exit
    code 0 after the message, and the launcher exits with 1."""
    with winetest.Session() as session:
        game = Game(session)
        game.add_host_script("launcher/morvane/launcher_host.py")
        game.add_python("python/python.exe")
        game.add("launcher.port", "1\n")  # left by a host that has ended
        with game.run() as program:
            host = game.wait_host()
            check(host["command_line"] ==
                  f'"{game.exe_folder}\\python\\python.exe" '
                  f'"{game.exe_folder}\\launcher\\morvane\\launcher_host.py" --no-browser',
                  f"host command line {host['command_line']!r}")
            check(host["cwd"].rstrip("\\") == game.exe_folder, f"host folder {host['cwd']}")
            check(host["console"] == "0", "the host must have no console")

            shown = session.box_text()
            check(shown == message("webview"), f"message {shown!r}")
            port = game.port()
            check(port_answers(port), "the host should still serve while the message shows")
            watch = session.watch_exit(host["pid"])
            code = session.press_ok(program)
            check(code == 1, f"exit code {code}, expected 1")
            check(watch.result() == 0, "the host should be ended with exit code 0")
            check(not port_answers(port), "the host's port should be closed")
            check(len(game.hosts()) == 1, "one host only")


def case_time_out():
    """A host that never listens: after 80 probes and pauses (no less than
    8 s) the time-out message; the host runs until the box is closed, then
    ends with exit code 1."""
    with winetest.Session() as session:
        game = Game(session)
        game.add_host_script()
        game.add_python()
        started = time.monotonic()
        with game.run(host_mode="silent") as program:
            host = game.wait_host()
            shown = session.box_text(timeout=60)
            waited = time.monotonic() - started
            check(shown == message("time_out"), f"message {shown!r}")
            check(waited >= 8, f"the message came after {waited:.1f} s, before 80 pauses")
            check(session.running(host["pid"]), "the host must run while the message shows")
            watch = session.watch_exit(host["pid"])
            code = session.press_ok(program)
            check(code == 1, f"exit code {code}, expected 1")
            check(watch.result() == 1, "the host should be ended with exit code 1")


def check_icon(wid):
    """The window shows the program's own art at the two system sizes."""
    images = xtest.window_icon_argb(wid)
    for size in (16, 32):
        check(size in images, f"no {size}-pixel icon image, only {sorted(images)}")
        drawn = xtest.png_argb(os.path.join(winetest.ICONS, f"morvane-{size}.png"))
        for shown, expected in zip(images[size], drawn):
            # Fully transparent pixels may carry any colour.
            if expected >> 24 == 0 and shown >> 24 == 0:
                continue
            check(all(abs(((shown >> s) & 255) - ((expected >> s) & 255)) <= 3
                      for s in (0, 8, 16, 24)),
                  f"{size}-pixel icon pixel {shown:08x} differs from the art's {expected:08x}")


def case_window():
    """Past the browser runtime (stand-in library): the host of the archive's
    neighbour folders starts, the window gets title, size, address and the
    program's icon; closing it ends the host with exit code 0, exit code 0."""
    with winetest.Session() as session:
        game = Game(session, browser="stand-in")
        # Both found through the "..\" candidates, which stay as written.
        script = session.path("launcher/morvane/launcher_host.py")
        os.makedirs(os.path.dirname(script))
        open(script, "w").close()
        os.makedirs(session.path("python"))
        shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"), session.path("python"))
        with game.run() as program:
            host = game.wait_host()
            check(host["command_line"] ==
                  f'"{game.exe_folder}\\..\\python\\python.exe" '
                  f'"{game.exe_folder}\\..\\launcher\\morvane\\launcher_host.py" --no-browser',
                  f"host command line {host['command_line']!r}")
            wid = xtest.wait_window(name="^Morvane$", timeout=30, settle=1.0)
            xtest.wait_for(lambda: "run" in game.browser_calls(), what="the window's loop")
            check(game.browser_calls() ==
                  ["create debug=0 parent=0", "title=Morvane", "size=1100x780 hint=0",
                   f"navigate=http://127.0.0.1:{game.port()}/", "run"],
                  f"browser calls {game.browser_calls()}")
            check_icon(wid)
            watch = session.watch_exit(host["pid"])
            code = winetest.close_window(program, "^Morvane$")
            check(code == 0, f"exit code {code}, expected 0")
            check(watch.result() == 0, "the host should be ended with exit code 0")
            check(game.browser_calls()[-2:] == ["run returned", "destroy"],
                  f"browser calls {game.browser_calls()}")
            check(not os.path.exists(game.path("launcher.port")),
                  "launcher.port should be removed with the host")


def case_second_start():
    """Two starts 20 ms apart, the host slow to listen: one host and one
    window, and one of the two starts ends at once with 0. Killed with its window
    open, the launcher leaves its host running (Windows ends no child with
    its parent), and the next start opens its window on that host through
    launcher.port, starts none, and leaves it running when closed."""
    with winetest.Session() as session:
        game = Game(session, browser="stand-in")
        game.add_host_script()
        game.add_python()
        with game.run(host_mode="slow") as one:
            time.sleep(0.02)
            with game.run(host_mode="slow") as other:
                # Either may reach the mutex first; the other gives way.
                _, first = xtest.one_gives_way(one, other, timeout=30)
                wid = xtest.wait_window(name="^Morvane$", timeout=30, settle=1.0)
                xtest.wait_for(lambda: "run" in game.browser_calls(), what="the window's loop")
                check(xtest.windows_of(name="^Morvane$") == [wid], "one window expected")
                hosts = game.hosts()
                check(len(hosts) == 1, f"one host expected, saw {hosts}")
                port = game.port()
                first.kill()
        xtest.wait_for(lambda: not xtest.windows_of(name="^Morvane$"), timeout=30,
                       what="the killed launcher's window to go")
        check(session.running(hosts[0]["pid"]), "the host should outlive a killed launcher")

        os.unlink(game.browser_report)
        with game.run() as again:
            xtest.wait_for(lambda: "run" in game.browser_calls(), timeout=60,
                           what="the next start's window")
            check(f"navigate=http://127.0.0.1:{port}/" in game.browser_calls(),
                  f"browser calls {game.browser_calls()}")
            code = winetest.close_window(again, "^Morvane$")
            check(code == 0, f"exit code {code}, expected 0")
        check(len(game.hosts()) == 1, f"no further host may start, saw {game.hosts()}")
        check(session.running(hosts[0]["pid"]) and port_answers(port),
              "a host the launcher did not start must survive it")
        check(game.port() == port, "its launcher.port must stay")


def expect_python(session, game, expected, what):
    """Runs the launcher up to its window, checks the interpreter it started
    as the command line names it, and closes the window."""
    if os.path.exists(game.host_report):
        os.unlink(game.host_report)
    with game.run() as program:
        host = game.wait_host()
        code = winetest.close_window(program, "^Morvane$")
        check(code == 0, f"exit code {code}, expected 0 (host {host})")
    command_line = host["command_line"]
    started = command_line[1:command_line.index('"', 1)]
    check(started == expected, f"{what}: started {started}, expected {expected}")


def case_python_search():
    """The interpreter candidates in their order: the archive's, python.txt
    (ASCII only: other bytes are widened one by one and name nothing), the
    MSYS2 places, then the system search (which looks beside the program
    first) for python.exe and at last python3.exe."""
    msys = os.path.join(winetest.PREFIX, "drive_c", "msys64")
    with winetest.Session() as session:
        shutil.rmtree(msys, ignore_errors=True)  # left by a run that was cut short
        game = Game(session, browser="stand-in")
        game.add_host_script()
        elsewhere = session.path("elsewhere/python.exe")
        os.makedirs(os.path.dirname(elsewhere))
        shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"), elsewhere)
        game.add("morvane/python.txt", windows_path(elsewhere) + " \r\n\r\n")
        expect_python(session, game, windows_path(elsewhere), "python.txt")

        os.makedirs(session.path("python"))
        shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"), session.path("python"))
        expect_python(session, game, game.exe_folder + "\\..\\python\\python.exe",
                      "the archive's interpreter before python.txt")
        shutil.rmtree(session.path("python"))

        # A real interpreter whose folder name is not ASCII, named in UTF-8;
        # and one in the folder that the same bytes name when each is read as
        # a Latin-1 letter. Neither is the file python.txt names.
        accented = session.path("pyth\u00f6n/python.exe")
        for folder in ("pyth\u00f6n", "pyth\u00c3\u00b6n"):
            os.makedirs(session.path(folder))
            shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"), session.path(folder))
        game.add("morvane/python.txt", windows_path(accented).encode("utf-8"))
        game.add_python("python3.exe")
        expect_python(session, game, game.exe_folder + "\\python3.exe",
                      "python3.exe on the search path, last")
        game.add_python("python.exe")
        expect_python(session, game, game.exe_folder + "\\python.exe",
                      "python.exe on the search path before python3.exe")

        # Morvane.exe itself, which would start launchers without end, and a
        # real interpreter named in a file longer than any path: neither counts.
        for named, what in ((game.exe_folder + "\\Morvane.exe\r\n", "python.txt naming Morvane.exe"),
                            (windows_path(elsewhere) + "\r\n" * 32768, "python.txt over 64 KiB")):
            game.add("morvane/python.txt", named)
            expect_python(session, game, game.exe_folder + "\\python.exe", what)

        try:
            os.makedirs(os.path.join(msys, "usr", "bin"))
            shutil.copy2(os.path.join(winetest.TOOLS, "python.exe"),
                         os.path.join(msys, "usr", "bin", "python3.exe"))
            expect_python(session, game, "C:\\msys64\\usr\\bin\\python3.exe",
                          "MSYS2's python3.exe before the search path")
        finally:
            shutil.rmtree(msys, ignore_errors=True)


def case_setup_usage():
    """A bad command line: the usage text on standard error, exit code 2."""
    with winetest.Session() as session:
        setup = os.path.join(winetest.DIST, "orbex-setup.exe")
        for args in (["--mode", "bogus"], []):
            with session.start(setup, *args) as program:
                code = program.wait(timeout=60)
                check(code == 2, f"{args}: exit code {code}, expected 2")
                check(program.stdout() == "", f"{args}: output {program.stdout()!r}")
                check(USAGE in program.stderr().splitlines(),
                      f"{args}: no usage text in {program.stderr()!r}")


def case_setup_close():
    """--mode dlc opens the window; a close request ends the tool with exit
    code 1 and nothing on standard output."""
    with winetest.Session() as session:
        setup = os.path.join(winetest.DIST, "orbex-setup.exe")
        with session.start(setup, "--mode", "dlc") as program:
            xtest.wait_window(name=f"^{SETUP_TITLE}$", timeout=60, settle=1.5)
            code = winetest.close_window(program, f"^{SETUP_TITLE}$")
            check(code == 1, f"exit code {code}, expected 1")
            check(program.stdout() == "", f"output {program.stdout()!r}")


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    xtest.write_bytes(path, data)


def setup_copy(folder, picture=None):
    """orbex-setup.exe with SDL3.dll and its font in `folder`, and `picture`
    (PNG bytes) as its assets/overlay.png; returns the program's path."""
    os.makedirs(os.path.join(folder, "assets", "fonts"))
    for name in ("orbex-setup.exe", "SDL3.dll", "assets/fonts/DejaVuSans.ttf"):
        shutil.copy2(os.path.join(winetest.DIST, name), os.path.join(folder, name))
    if picture is not None:
        put(os.path.join(folder, "assets", "overlay.png"), picture)
    return os.path.join(folder, "orbex-setup.exe")


def paste(session, wid, text):
    """Pastes text into the focused control of a window, as a player pastes
    a name copied elsewhere (no keyboard types these letters here)."""
    code, _ = session.probe("clipboard", text)
    check(code == 0, "the clipboard could not be set")
    xtest.focus(wid)
    xtest.xdotool("key", "ctrl+v")
    time.sleep(0.3)


def choose(session, wid, answer):
    """Opens the chooser and answers it with a typed file name, as a player
    who types a name into the dialog and presses Return."""
    xtest.click(wid, *Layout().select)
    dialog = xtest.wait_window(name="^Open$", timeout=30)
    xtest.focus(dialog)
    xtest.xdotool("key", "End", "shift+Home", "Delete")
    paste(session, dialog, answer)
    xtest.xdotool("key", "Return")
    xtest.wait_for(lambda: not xtest.windows_of(name="^Open$"), timeout=30, what="the chooser to close")
    time.sleep(0.5)  # a few frames: the answer is taken in the next one


def bar_row(png):
    """The y of the progress bar's middle row, found by its fill at its left end."""
    for y in range(100, 400, 2):
        if xtest.colour_close(xtest.pixel(png, 20, y), BAR_FILL, 4):
            return y
    return None


def full_bar(shots):
    def full(png):
        y = bar_row(png)
        return y is not None and xtest.colour_close(xtest.pixel(png, 700, y), BAR_FILL, 4)
    shots.wait_until(full, "a full progress bar", timeout=30)


def case_setup_names():
    """Names outside the ANSI code page, on every road a path takes into and
    out of orbex-setup: the program's own folder (font, picture), the status
    file's path, the start folder and the chooser's answers, the typed path,
    the background variable, and the result lines, which carry the UTF-8
    bytes of each name. The chooser opens inside its start folder, named
    without a trailing separator, and inside the folder of the last pick."""
    with winetest.Session() as session:
        folder = session.path(f"Jeux \u00e9 {JAPANESE} {EMOJI}")
        setup = setup_copy(folder, picture=solid_png(8, 8, (40, 60, 230, 255)))
        status = session.path(os.path.join(EMOJI, JAPANESE, "status"))
        put(status, b"success\t5\t5\tdone\n")
        with session.start(setup, "--mode", "progress", windows_path(status)) as program:
            wid = xtest.wait_window(name=f"^{SETUP_TITLE}$", timeout=60, settle=1.0)
            shots = Shots(wid)
            try:
                full_bar(shots)
            finally:
                shots.cleanup()
            code = winetest.close_window(program, f"^{SETUP_TITLE}$")
            check(code == 1, f"exit code {code}, expected 1")
            lines = program.stderr().splitlines()
            for line in (f"Vantorra setup font: {windows_path(folder)}\\assets/fonts/DejaVuSans.ttf",
                         f"Vantorra setup art: {windows_path(folder)}\\assets/overlay.png"):
                check(line in lines, f"no line {line!r} in {lines}")

        # Where a chooser opened one folder too high would take its names.
        zoe = session.path(ACCENTED)
        for name in ("dlc.pkg", f"{JAPANESE}.pkg", "adlc.pkg", "b.pkg"):
            put(os.path.join(zoe, name), b"pkg")
            put(session.path(name), b"decoy")
        typed = session.path(os.path.join(EMOJI, "dlc.pkg"))
        put(typed, b"pkg")
        green = os.path.join(zoe, "green.png")
        put(green, solid_png(8, 8, (30, 200, 60, 255)))
        env = {"ORBEX_SETUP_START_DIR": windows_path(zoe), "ORBEX_OVERLAY_BACKGROUND": windows_path(green)}
        setup = os.path.join(winetest.DIST, "orbex-setup.exe")
        with session.start(setup, "--mode", "dlc", extra_env=env) as program:
            wid = xtest.wait_window(name=f"^{SETUP_TITLE}$", timeout=60, settle=1.5)
            shots = Shots(wid)
            try:
                choose(session, wid, "dlc.pkg")
                shots.wait_until(lambda png: xtest.colour_close(
                    xtest.pixel(png, *Layout(chosen=1).accept_fill), BUTTON), "the first pick")
                choose(session, wid, f"{JAPANESE}.pkg")
                # SDL's Windows chooser garbles an answer of several names in
                # a folder like this one ("adlc.pkg" would come back as the
                # other file "dlc.pkg"): refused whole, with a notice.
                choose(session, wid, '"adlc.pkg" "b.pkg"')
                refused = Layout(notice=True, chosen=1)
                shots.wait_until(lambda png: has_colour(png, notice_box(refused), NOTICE), "the notice")
                xtest.click(wid, *refused.toggle)
                field = Layout(notice=True, manual=True, chosen=1)
                shots.wait_until(lambda png: xtest.colour_close(xtest.pixel(png, 20, field.field[1]), FIELD),
                                 "the path field")
                xtest.click(wid, *field.field)
                time.sleep(0.3)  # the field takes the keyboard in the next frame
                paste(session, wid, windows_path(typed))
                xtest.click(wid, *field.add)
                shots.wait_until(lambda png: not has_colour(png, notice_box(field), NOTICE),
                                 "the typed path to be taken")
                xtest.click(wid, *Layout(manual=True, chosen=1).accept)
                code = program.wait(timeout=30)
            finally:
                shots.cleanup()
            check(code == 0, f"exit code {code}, expected 0\n{program.stderr()}")
            lines = xtest.raw_stdout(program).decode("utf-8").splitlines()
            expected = [windows_path(os.path.join(zoe, "dlc.pkg")),
                        windows_path(os.path.join(zoe, f"{JAPANESE}.pkg")), windows_path(typed)]
            check(lines == expected, f"result lines {lines}, expected {expected}")
            art = f"Vantorra setup art: {windows_path(green)}"
            check(art in program.stderr().splitlines(), f"no line {art!r} in {program.stderr()!r}")


def case_setup_status_file():
    """An installer that renames each new status file over the old one, and
    one that deletes it, while the window reads it every frame: Windows
    replaces no file that is open, so a rename that meets a read is tried
    again (as the README tells callers) and always gets through; a delete is
    never refused; the window shows the last line."""
    with winetest.Session() as session:
        status = session.path(os.path.join(JAPANESE, "status"))
        put(status, b"working\t0\t5\tstarting\n")
        setup = os.path.join(winetest.DIST, "orbex-setup.exe")
        with session.start(setup, "--mode", "progress", windows_path(status)) as program:
            wid = xtest.wait_window(name=f"^{SETUP_TITLE}$", timeout=60, settle=1.0)
            code, out = session.probe("replace", windows_path(status), "2000", timeout=300)
            refused, lost = map(int, out.split())
            print(f"renames over the read file: {refused} refused at first, {lost} given up")
            check(code == 0 and lost == 0, f"{lost} of 2000 renames never got through ({out!r})")
            shots = Shots(wid)
            try:
                full_bar(shots)
            finally:
                shots.cleanup()
            code, out = session.probe("delete", windows_path(status), "1000", timeout=300)
            check(code == 0 and out.split() == ["0"], f"deletes refused while the window reads: {out!r}")
            code = winetest.close_window(program, f"^{SETUP_TITLE}$")
            check(code == 1, f"exit code {code}, expected 1")


def case_setup_one_entry_per_file():
    """Typed names of one package in other spellings (another letter case, a
    hard link) make one entry, in the first spelling; a second package makes
    a second one, and both are printed."""
    with winetest.Session() as session:
        os.makedirs(session.path("pk"))
        for name in ("a.pkg", "b.pkg"):
            xtest.write_bytes(session.path(f"pk/{name}"), b"PKG")
        os.link(session.path("pk/a.pkg"), session.path("pk/hard.pkg"))
        first, other = windows_path(session.path("pk/a.pkg")), windows_path(session.path("pk/b.pkg"))
        typed = [first, windows_path(session.path("PK/A.PKG")), windows_path(session.path("pk/hard.pkg")), other]
        setup = os.path.join(winetest.DIST, "orbex-setup.exe")
        with session.start(setup, "--mode", "dlc") as program:
            wid = xtest.wait_window(name=f"^{SETUP_TITLE}$", timeout=60, settle=1.5)
            click(wid, Layout().toggle)
            entry = Layout(manual=True, chosen=1)
            for name in typed:
                click(wid, entry.field)
                xtest.type_text(wid, name)
                click(wid, entry.add)
                time.sleep(0.5)
            click(wid, entry.accept)
            code = xtest.ended(program, 60, "orbex-setup.exe")
            check(code == 0, f"exit code {code}, expected 0\n{program.stderr()}")
            printed = program.stdout().splitlines()
            check(printed == [first, other], f"printed {printed}, expected {[first, other]}")


def main():
    case = sys.argv[1]
    winetest.need_dist("Morvane.exe", "libwebview.dll", "orbex-setup.exe", "SDL3.dll")
    winetest.need_wine()
    globals()[f"case_{case}"]()
    print(f"{case}: ok")


if __name__ == "__main__":
    main()
