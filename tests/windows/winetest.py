"""Helpers for running the Windows programs of dist/windows under Wine on the
test X server: the shared Wine prefix, Windows paths, message boxes, and the
small Windows tools the tests build (tools/*.c).

A test that can't run here (no dist/windows, no Wine, no tools, no display)
fails, or reports itself skipped when ORBEX_SKIP_WINDOWS=1.
"""
import contextlib
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time

import xtest
from xtest import check

SKIP = 77
DIST = os.environ.get("ORBEX_WINDOWS_DIST", "")
TOOLS = os.environ.get("ORBEX_WINDOWS_TEST_TOOLS", "")
PREFIX = os.environ.get("ORBEX_WINE_PREFIX", os.path.expanduser("~/.cache/orbex-deps/wine-prefix"))
LOCALES = os.path.join(os.path.dirname(PREFIX), "locales")
WINE = shutil.which("wine")
WINESERVER = shutil.which("wineserver")
WINEBOOT = shutil.which("wineboot")
HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "..", "launcher", "icons")


def skip(reason):
    """A test that cannot run is a failure unless the Windows part was left out
    on purpose (ORBEX_SKIP_WINDOWS=1)."""
    if os.environ.get("ORBEX_SKIP_WINDOWS") == "1":
        print(f"SKIP: {reason}")
        sys.exit(SKIP)
    print(f"FAIL: {reason} (ORBEX_SKIP_WINDOWS=1 leaves the Windows tests out)")
    sys.exit(1)


def need_dist(*names):
    for name in names:
        if not os.path.isfile(os.path.join(DIST, name)):
            skip(f"{os.path.join(DIST, name)} is not built (scripts/build-windows.sh makes it)")


def need_wine():
    if not (WINE and WINESERVER and WINEBOOT):
        skip("Wine is not installed")
    if not os.environ.get("DISPLAY"):
        skip("no X display")
    for tool in ("python.exe", "wine_probe.exe", "libwebview.dll"):
        if not os.path.isfile(os.path.join(TOOLS, tool)):
            skip(f"the Windows test tool {tool} is not built (needs mingw-w64)")


def windows_path(path):
    """The name Wine's drive Z: gives a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_report(path):
    """The stand-in host's reports: a list of {key: value}, one per start."""
    if not os.path.exists(path):
        return []
    reports, current = [], {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            if key == "end":
                reports.append(current)
                current = {}
            else:
                current[key] = value
    return reports


def _ensure_prefix(env):
    ready = os.path.join(PREFIX, ".orbex-ready")
    if os.path.exists(ready):
        return
    shutil.rmtree(PREFIX, ignore_errors=True)
    os.makedirs(os.path.dirname(PREFIX), exist_ok=True)
    started = time.monotonic()
    subprocess.run([WINEBOOT, "-i"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
    subprocess.run([WINESERVER, "-w"], env=env, check=True, timeout=120)
    open(ready, "w").close()
    print(f"made the Wine prefix {PREFIX} in {time.monotonic() - started:.1f} s")


def french_locale_env():
    """Environment that makes Wine take French (France) as the interface
    language through LANG. Wine reads it through the C library, which needs
    the locale's data: made once beside the prefix when the system lacks it."""
    env = {"LANG": "fr_FR.UTF-8"}
    probe = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower()
    if "fr_fr.utf8" in probe.split():
        return env
    target = os.path.join(LOCALES, "fr_FR.UTF-8")
    if not os.path.isdir(target):
        os.makedirs(LOCALES, exist_ok=True)
        partial = target + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        made = subprocess.run(["localedef", "-i", "fr_FR", "-f", "UTF-8", partial],
                              capture_output=True).returncode == 0
        if made:
            os.rename(partial, target)
        else:
            # No locale sources (package locales): Wine also takes LC_ALL
            # as it is written.
            shutil.rmtree(partial, ignore_errors=True)
            print("no fr_FR locale could be made; taking French from LC_ALL instead of LANG")
            return {"LC_ALL": "fr_FR.UTF-8"}
    env["LOCPATH"] = LOCALES
    return env


class Session:
    """The shared Wine prefix, held for one test: other runs wait for it, and
    every Windows process the test left behind is ended on leaving."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="orbex-wine-")
        self.env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANGUAGE", "LOCPATH", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all", LANG="C.UTF-8",
                        # No Mono or Gecko installer may ever ask anything.
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self._lock = None

    def __enter__(self):
        os.makedirs(os.path.dirname(PREFIX), exist_ok=True)
        self._lock = open(PREFIX + ".lock", "w")
        fcntl.flock(self._lock, fcntl.LOCK_EX)
        _ensure_prefix(self.env)
        # Wine's server and its background programs start with the first
        # program and inherit its output: let them start here, on nothing, so
        # that no test's output pipe stays open behind them.
        subprocess.run([WINEBOOT], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        return self

    def __exit__(self, *exc):
        # Ends what this test started in the prefix (hosts left running
        # included), so the next test finds it empty.
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True, timeout=60)
        fcntl.flock(self._lock, fcntl.LOCK_UN)
        self._lock.close()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    def path(self, relative):
        return os.path.join(self.root, relative)

    def start(self, program, *args, extra_env=None):
        """Starts a Windows program under Wine in the session's folder."""
        env = dict(self.env)
        env.update(extra_env or {})
        return xtest.Program([WINE, program, *args], env=env, cwd=self.root)

    def probe(self, *args, extra_env=None, timeout=60):
        """Runs tools/wine_probe.exe; (exit code, standard output)."""
        env = dict(self.env)
        env.update(extra_env or {})
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([WINE, os.path.join(TOOLS, "wine_probe.exe"), *args], env=env,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=timeout,
                                  stdin=subprocess.DEVNULL).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace")

    def watch_exit(self, pid, timeout_ms=60000):
        """Holds a Windows process from outside and waits for its end; the
        returned object's result() is its exit code, None when it ran on."""
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen([WINE, os.path.join(TOOLS, "wine_probe.exe"), "exit-code",
                                 str(pid), str(timeout_ms)], env=self.env, stdout=out,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

        def lines():
            out.seek(0)
            return out.read().decode().split()
        # Only once the watcher holds the process may it be ended.
        xtest.wait_for(lambda: lines() or proc.poll() is not None, timeout=30,
                       what=f"the watch on process {pid}")
        check(lines()[:1] == ["watching"], f"process {pid} could not be watched")

        class Watch:
            def result(self, timeout=90):
                proc.wait(timeout=timeout)
                found = lines()
                out.close()
                return int(found[1]) if proc.returncode == 0 else None
        return Watch()

    def running(self, pid):
        """True while the Windows process exists and has not ended."""
        return self.probe("exit-code", str(pid), "0")[0] == 1

    def box_lines(self, caption="Morvane", timeout=30):
        """The texts of the controls of the visible message box with that caption."""
        def lines():
            code, out = self.probe("box-text", caption)
            return out.splitlines() if code == 0 and out.strip() else None
        return xtest.wait_for(lines, timeout=timeout, interval=0.3,
                              what=f"a message box captioned {caption}")

    def box_text(self, caption="Morvane", timeout=30):
        """The message of the message box: its one non-empty static text."""
        texts = [line.split("|", 1)[1] for line in self.box_lines(caption, timeout)
                 if line.startswith("Static|") and line.split("|", 1)[1]]
        check(len(texts) == 1, f"one message text expected in the box, saw {texts}")
        return texts[0]

    def press_ok(self, program, timeout=30):
        """Closes the message box with the Return key, as a user would, and
        gives the program's exit code."""
        deadline = time.monotonic() + timeout
        while True:
            for wid in xtest.windows_of(name="^Morvane$"):
                xtest.xdotool("windowfocus", "--sync", str(wid), check=False)
                xtest.xdotool("key", "Return", check=False)
            with contextlib.suppress(subprocess.TimeoutExpired):
                return program.wait(timeout=4)
            if time.monotonic() > deadline:
                raise AssertionError("the message box did not take the Return key")


def close_window(program, name, timeout=30):
    """Asks the program's window to close, as a window manager would, until
    the program ends: a request that reached a replaced window is sent again."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        wid = xtest.wait_window(name=name, timeout=max(1, deadline - time.monotonic()),
                                settle=0.5)
        subprocess.run([xtest.X_CLOSE_REQUEST, str(wid)], capture_output=True)
        with contextlib.suppress(subprocess.TimeoutExpired):
            return program.proc.wait(timeout=5)
    raise AssertionError(f"the window {name} did not close")
