#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/.
# Extra arguments go to the CMake configure step.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="$("$root/scripts/deps.sh" | tail -n 1)"
build="${ORBEX_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DORBEX_DEPS_DIR="$cache" "$@" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)"
