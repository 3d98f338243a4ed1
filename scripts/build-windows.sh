#!/usr/bin/env bash
# Cross-builds both programs for Windows x86-64 with mingw-w64 and lays out
# dist/windows/ with them and what they need at run time:
#   Morvane.exe, libwebview.dll          the launcher and its browser library
#   orbex-setup.exe, SDL3.dll            the setup tool and its window library
#   assets/fonts/DejaVuSans.ttf          the setup tool's typeface
# The build goes to build-windows/ ($ORBEX_BUILD_DIR-windows when that is set,
# $ORBEX_WINDOWS_BUILD_DIR when that is).
# Extra arguments go to the CMake configure step.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/scripts/lib.sh"
cache="$("$root/scripts/deps-windows.sh" | tail -n 1)"
build="${ORBEX_WINDOWS_BUILD_DIR:-${ORBEX_BUILD_DIR:-$root/build}-windows}"
dist="$root/dist/windows"
triple=x86_64-w64-mingw32

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORBEX_DEPS_DIR="$cache" -DORBEX_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)"

rm -rf "$dist"
mkdir -p "$dist/assets/fonts"
cp "$build/launcher/Morvane.exe" "$build/launcher/libwebview.dll" "$dist/"
cp "$build/setup/orbex-setup.exe" "$cache/sdl3-windows/prefix/bin/SDL3.dll" "$dist/"
font="$build/setup/assets/fonts/DejaVuSans.ttf"
if [ -f "$font" ]; then
  cp "$font" "$dist/assets/fonts/"
else
  log "WARNING: no DejaVuSans.ttf (fonts-dejavu-core); orbex-setup.exe will use its built-in font"
fi
# Symbols stay in the build folder; the shipped programs keep their resources.
"$triple-strip" "$dist/Morvane.exe" "$dist/orbex-setup.exe"
"$triple-strip" --strip-unneeded "$dist/SDL3.dll"

# What each .exe and .dll imports is checked by the windows_pe_programs test
# (tests/windows/pe_check.py), which scripts/test.sh runs on this folder.
log "laid out $dist"
