#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless on an X
# server of its own, which it stops afterwards. Arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/scripts/lib.sh"
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

runtime="$(mktemp -d /tmp/orbex-test-runtime.XXXXXX)"
chmod 700 "$runtime"
cleanup() {
  stop_xvfb
  rm -rf "$runtime"
}
trap cleanup EXIT
start_xvfb "$runtime"
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
