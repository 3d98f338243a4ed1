#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless on an X
# server of its own, which it stops afterwards. Arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The Windows programs too, for the Wine tests. Their cross compiler is
# installed before the first configure of the native build, which builds the
# Windows test tools with it. ORBEX_SKIP_WINDOWS=1 leaves all of that out, and
# only then do the Windows tests report themselves skipped.
if [ "${ORBEX_SKIP_WINDOWS:-0}" != 1 ]; then
  "$root/scripts/deps-windows.sh" >/dev/null
fi
"$root/scripts/build.sh"
if [ "${ORBEX_SKIP_WINDOWS:-0}" != 1 ]; then
  "$root/scripts/build-windows.sh"
fi
build="${ORBEX_BUILD_DIR:-$root/build}"

# A display number nobody uses.
display=90
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
  display=$((display + 1))
done
runtime="$(mktemp -d /tmp/orbex-test-runtime.XXXXXX)"
chmod 700 "$runtime"
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$runtime/xvfb.log" 2>&1 &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
for _ in $(seq 100); do
  DISPLAY=":$display" xdpyinfo >/dev/null 2>&1 && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$runtime/xvfb.log" >&2; exit 1; }
  sleep 0.1
done

export DISPLAY=":$display"
export XDG_RUNTIME_DIR="$runtime"
# No desktop session here: keep GTK and SDL from looking for one.
export NO_AT_BRIDGE=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc 2>/dev/null || echo 4)" "$@"

# Then the same suite on a sanitizer build, and a short run of each fuzzer
# (scripts/test-hardening.sh; a few minutes more). ORBEX_SKIP_HARDENING=1
# leaves it out.
if [ "${ORBEX_SKIP_HARDENING:-0}" != 1 ]; then
  "$root/scripts/test-hardening.sh"
fi
