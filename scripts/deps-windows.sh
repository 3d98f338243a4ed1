#!/usr/bin/env bash
# Installs the mingw-w64 toolchain and Wine, and cross-builds for Windows
# x86-64 what the programs link: SDL3 (shared) and a small static FFmpeg with
# only the PNG decoder and swscale. Results stay in the dependency cache.
# Prints the cache folder on its last line of standard output.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="$("$root/scripts/deps.sh" | tail -n 1)"
jobs=$(nproc 2>/dev/null || echo 4)
FFMPEG_VERSION="7:5.1.9-0+deb12u1"
. "$root/scripts/lib.sh"

# locales: the French locale's sources, so the Wine tests can give Wine a
# French LANG.
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
          libz-mingw-w64-dev nasm icoutils wine wine64 locales)
ensure_packages "${packages[@]}"

toolchain="$root/cmake/mingw-w64-x86_64.cmake"

# SDL3 from the same source tarball as the Linux build. Debian's repacked
# source lacks the precompiled Direct3D shaders, so only the OpenGL and
# software renderers are built.
sdl_src=$(ls -d "$cache"/sdl3-*/src | head -n 1)
sdl_win="$cache/sdl3-windows"
if [ ! -f "$sdl_win/.done" ]; then
  log "cross-building SDL3 (about a minute)"
  rm -rf "$sdl_win"
  build_sdl3 "$sdl_src" "$sdl_win" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DSDL_RENDER_D3D=OFF -DSDL_RENDER_D3D11=OFF -DSDL_RENDER_D3D12=OFF -DSDL_GPU=OFF \
    -DSDL_RENDER_GPU=OFF
  touch "$sdl_win/.done"
fi

# FFmpeg from Debian 12's own source package, from the machine's own mirror
# through the private apt setup (scripts/lib.sh).
ff_win="$cache/ffmpeg-windows"
if [ ! -f "$ff_win/.done" ]; then
  log "cross-building FFmpeg (PNG decoder and swscale only; about a minute)"
  rm -rf "$ff_win"
  private_apt "$cache/apt-bookworm" bookworm bookworm-security
  unpack_source ffmpeg "$FFMPEG_VERSION" "$ff_win"
  (cd "$ff_win/src" && ./configure --prefix="$ff_win/prefix" \
     --enable-cross-compile --target-os=mingw32 --arch=x86_64 --cross-prefix=x86_64-w64-mingw32- \
     --disable-everything --disable-programs --disable-autodetect --disable-doc --disable-network \
     --disable-avformat --disable-avdevice --disable-avfilter --disable-swresample \
     --enable-zlib --enable-decoder=png --enable-swscale --enable-static --disable-shared \
     --pkg-config=pkg-config >&2)
  make -C "$ff_win/src" -j "$jobs" >&2
  make -C "$ff_win/src" install >&2
  rm -rf "$ff_win/src"
  touch "$ff_win/.done"
fi

printf '%s\n' "$cache"
