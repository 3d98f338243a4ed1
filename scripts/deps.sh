#!/usr/bin/env bash
# Installs what the build and the tests need, and prepares the libraries that
# Debian 12 does not ship (SDL3, a recent Dear ImGui, the webview library) in a
# cache outside the checkout. Safe to run again: finished steps are skipped.
#
# Cache folder: $ORBEX_CACHE, else ${XDG_CACHE_HOME:-$HOME/.cache}/orbex-deps.
# Prints the cache folder on its last line of standard output.
set -euo pipefail

SDL3_VERSION="3.2.10+ds-1"
IMGUI_VERSION="1.92.2b+ds-1"
WEBVIEW_BUN_VERSION="2.4.0"

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/scripts/lib.sh"
cache="${ORBEX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orbex-deps}"
mkdir -p "$cache"

# --- Debian 12 packages --------------------------------------------------------
packages=(
  # build
  cmake ninja-build g++ pkg-config xz-utils libgtest-dev libgmock-dev libbenchmark-dev
  # orbex-setup: PNG decoding and the font laid beside the program
  libavcodec-dev libavutil-dev libswscale-dev zlib1g-dev fonts-dejavu-core
  # SDL3's video back end (X11), the desktop portal over D-Bus
  libx11-dev libxext-dev libxrandr-dev libxcursor-dev libxi-dev libxfixes-dev
  libxss-dev libxtst-dev libxkbcommon-dev libgl-dev libegl-dev libdbus-1-dev
  # Morvane: our own dialog, and what the prebuilt webview library links against
  libgtk-4-dev libwebkitgtk-6.0-4
  # tests: X server, window driving, screenshots, the file chooser, the test host
  xvfb xauth xdotool x11-utils imagemagick zenity python3
  # reading the text of Morvane's message box over the accessibility bus
  dbus-daemon at-spi2-core libglib2.0-bin
  # the fuzz build (scripts/test-hardening.sh): clang with libFuzzer
  clang libclang-rt-14-dev
  # the house layout of the C++ sources (scripts/format.sh, checked by the tests)
  clang-format
)
# npm, which fetches the webview library below, may have come with a Node.js
# from elsewhere than Debian.
command -v npm >/dev/null 2>&1 || packages+=(npm)
ensure_packages "${packages[@]}"

# --- Source packages (scripts/lib.sh: the machine's own Debian mirror) ----------
private_apt "$cache/apt" "trixie sid"

# --- SDL3 ----------------------------------------------------------------------
sdl_root="$cache/sdl3-$SDL3_VERSION"
if [ ! -f "$sdl_root/.done" ]; then
  log "building SDL3 $SDL3_VERSION (about a minute)"
  rm -rf "$sdl_root"
  unpack_source libsdl3 "$SDL3_VERSION" "$sdl_root"
  build_sdl3 "$sdl_root/src" "$sdl_root"
  touch "$sdl_root/.done"
fi

# --- Dear ImGui (sources only: our own build compiles them) ---------------------
imgui_root="$cache/imgui-$IMGUI_VERSION"
if [ ! -f "$imgui_root/.done" ]; then
  log "fetching Dear ImGui $IMGUI_VERSION"
  rm -rf "$imgui_root"
  unpack_source imgui "$IMGUI_VERSION" "$imgui_root"
  touch "$imgui_root/.done"
fi
imgui_built=$(sed -n 's/^#define IMGUI_VERSION *"\(.*\)"/\1/p' "$imgui_root/src/imgui.h")
log "Dear ImGui source: $imgui_built (pinned package $IMGUI_VERSION)"

# --- webview library (prebuilt builds shipped in an npm package) ----------------
webview_root="$cache/webview-bun-$WEBVIEW_BUN_VERSION"
if [ ! -f "$webview_root/.done" ]; then
  log "fetching webview-bun $WEBVIEW_BUN_VERSION"
  rm -rf "$webview_root"
  mkdir -p "$webview_root/pack"
  # npm pack only downloads the tarball; no install script runs.
  (cd "$webview_root/pack" && npm pack --silent "webview-bun@$WEBVIEW_BUN_VERSION" >&2)
  tar -xzf "$webview_root"/pack/webview-bun-*.tgz -C "$webview_root/pack"
  mkdir -p "$webview_root/lib"
  cp "$webview_root/pack/package/build/libwebview-x64.so" "$webview_root/lib/"
  if [ -f "$webview_root/pack/package/build/libwebview.dll" ]; then
    cp "$webview_root/pack/package/build/libwebview.dll" "$webview_root/lib/"
  fi
  rm -rf "$webview_root/pack"
  touch "$webview_root/.done"
fi

printf '%s\n' "$cache"
