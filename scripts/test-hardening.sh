#!/usr/bin/env bash
# The hardening checks, in two parts:
#   sanitize  builds everything with AddressSanitizer and UndefinedBehavior-
#             Sanitizer (ORBEX_SANITIZE) and runs the whole test suite but the
#             Windows tests on it; any report fails the run;
#   fuzz      builds the libFuzzer targets of fuzz/ with clang (ORBEX_FUZZ)
#             and runs each one for a short, bounded time from its seeds.
# With no part named it does both. Arguments after "--" go to the sanitizer
# run's ctest, e.g. `scripts/test-hardening.sh sanitize -- -R picker_`.
# It uses the X server named by DISPLAY (the one scripts/test.sh started), or
# starts one of its own when DISPLAY is unset.
#
# Build folders: $ORBEX_SANITIZE_BUILD_DIR (default build-asan/) and
# $ORBEX_FUZZ_BUILD_DIR (default build-fuzz/). $ORBEX_FUZZ_SECONDS is each
# fuzzer's run time in seconds (default 20).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/scripts/lib.sh"
parts=()
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    sanitize | fuzz) parts+=("$1") ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "usage: $0 [sanitize] [fuzz] [-- ctest arguments for the sanitizer run]" >&2; exit 2 ;;
  esac
  shift
done
[ ${#parts[@]} -gt 0 ] || parts=(sanitize fuzz)
wants() { [[ " ${parts[*]} " == *" $1 "* ]]; }

cache="$("$root/scripts/deps.sh" | tail -n 1)"
sanitize_build="${ORBEX_SANITIZE_BUILD_DIR:-$root/build-asan}"
fuzz_build="${ORBEX_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs=$(nproc 2>/dev/null || echo 4)

scratch="$(mktemp -d /tmp/orbex-hardening.XXXXXX)"
chmod 700 "$scratch"
cleanup() {
  stop_xvfb
  rm -rf "$scratch"
}
trap cleanup EXIT

# --- the X server, for the sanitizer run's end-to-end tests --------------------
start_x_server() {
  if [ -z "${DISPLAY:-}" ]; then
    start_xvfb "$scratch"
  fi
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR="$scratch/runtime"
  fi
  # No desktop session here: keep GTK and SDL from looking for one.
  export NO_AT_BRIDGE=1
}

# --- sanitizer build and the test suite on it ----------------------------------
run_sanitized_suite() {
  # SDL from the same source as the normal build, with frame pointers: the
  # sanitizers' fast stack walk then sees through SDL into our code, so a
  # report shows who called SDL, and a suppression can name the SDL function
  # that leaks rather than SDL's allocator (which would hide our leaks too).
  local sdl_version sdl_source sdl_dir
  sdl_version=$(sed -n 's/^SDL3_VERSION="\(.*\)"$/\1/p' "$root/scripts/deps.sh")
  sdl_source="$cache/sdl3-$sdl_version/src"
  sdl_dir="$sanitize_build/sdl3-frame-pointers"
  if [ ! -f "$sdl_dir/.done" ]; then
    log "building SDL3 $sdl_version with frame pointers"
    rm -rf "$sdl_dir"
    build_sdl3 "$sdl_source" "$sdl_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_FLAGS="-fno-omit-frame-pointer" >"$scratch/sdl.log" 2>&1 ||
      { cat "$scratch/sdl.log" >&2; exit 1; }
    touch "$sdl_dir/.done"
  fi

  log "sanitizer build in $sanitize_build"
  cmake -S "$root" -B "$sanitize_build" -G Ninja -DORBEX_DEPS_DIR="$cache" -DORBEX_SANITIZE=ON \
    -DORBEX_SDL3_PREFIX="$sdl_dir/prefix" -DSDL3_DIR="$sdl_dir/prefix/lib/cmake/SDL3" >/dev/null
  cmake --build "$sanitize_build" -j "$jobs"

  # Any report ends the program with SIGABRT, an ending none of our programs
  # has of its own, so the test that ran it fails. AddressSanitizer's and
  # LeakSanitizer's reports also go to files of their own in $reports, which
  # fail the run below even when a test does not look at how a program
  # ended. (GCC's UndefinedBehaviorSanitizer runtime, a library apart from
  # AddressSanitizer's, takes no report file: its reports go to standard
  # error.)
  local reports="$scratch/reports" supp="$root/tests/sanitize"
  mkdir "$reports"
  # intercept_tls_get_addr=0: GCC 12's LeakSanitizer follows the thread-local
  # blocks of libraries loaded at run time through __tls_get_addr, and with
  # GTK and WebKit loaded its leak check then crashes on a block that is no
  # longer mapped ("Tracer caught signal 11"). Without it those blocks are
  # not scanned, which can only add reports, never hide one.
  local asan="detect_leaks=1:abort_on_error=1:halt_on_error=1:intercept_tls_get_addr=0"
  asan+=":check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
  asan+=":verify_asan_link_order=0:log_path=$reports/asan"
  local ubsan="halt_on_error=1:abort_on_error=1:print_stacktrace=1:report_error_type=1"
  ubsan+=":suppressions=$supp/ubsan.supp"
  local lsan="suppressions=$supp/lsan.supp:print_suppressions=0"
  # Mesa's software GL driver is loaded into every process from the start, so
  # that it is still there at the leak check. Otherwise SDL, closing its X
  # display at exit, unloads it, and what the driver still held then looks
  # leaked, from code that is no longer mapped: no library name left for a
  # suppression to match, and no way to tell it from a leak of ours. Loaded
  # ahead of the sanitizer runtime, it needs verify_asan_link_order=0; it
  # replaces no allocator function, so the sanitizer still sees every one.
  local preload=
  local mesa=/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so
  [ -f "$mesa" ] && preload=$mesa

  log "test suite on the sanitizer build (all but the Windows tests)"
  local status=0
  ASAN_OPTIONS="$asan" UBSAN_OPTIONS="$ubsan" LSAN_OPTIONS="$lsan" LD_PRELOAD="$preload" \
    ctest --test-dir "$sanitize_build" -LE windows --output-on-failure -j "$jobs" ${ctest_args[@]+"${ctest_args[@]}"} ||
    status=$?
  if compgen -G "$reports/*" >/dev/null; then
    log "sanitizer reports:"
    for report in "$reports"/*; do
      printf '==== %s\n' "$(basename "$report")" >&2
      cat "$report" >&2
    done
    status=1
  fi
  [ "$status" = 0 ] || { log "the sanitizer run failed"; exit 1; }
  log "sanitizer run clean"
}

# --- fuzz build and bounded runs --------------------------------------------
run_fuzzers() {
  log "fuzz build in $fuzz_build"
  cmake -S "$root" -B "$fuzz_build" -G Ninja -DORBEX_DEPS_DIR="$cache" -DORBEX_FUZZ=ON \
    -DORBEX_BUILD_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DORBEX_FUZZ_SECONDS="${ORBEX_FUZZ_SECONDS:-20}" >/dev/null
  cmake --build "$fuzz_build" -j "$jobs" --target orbex_fuzzers
  log "bounded fuzz runs"
  ctest --test-dir "$fuzz_build" -L fuzz --output-on-failure -j "$jobs" ||
    { log "a fuzzer failed; its input is in $fuzz_build/fuzz/artifacts"; exit 1; }
}

# Both parts run even when the first fails, so one run tells about both.
# Each runs in a subshell of its own, where any failing step ends the part.
failed=0
if wants sanitize; then
  start_x_server
  set +e
  (set -e; run_sanitized_suite)
  [ $? = 0 ] || failed=1
  set -e
fi
if wants fuzz; then
  set +e
  (set -e; run_fuzzers)
  [ $? = 0 ] || failed=1
  set -e
fi
exit "$failed"
