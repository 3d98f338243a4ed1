#!/usr/bin/env bash
# Builds what the benchmarks need (natively and for Windows), runs them and
# prints one table: the status-line reader and the PNG loader (Google
# Benchmark), then whole-program figures of orbex-setup and Morvane, most
# beside a reference program measured in the same run, and the package intake
# natively and under Wine (bench/programs.py), on an X server: the one in
# DISPLAY when it answers, else an Xvfb of its own, stopped afterwards.
# Benchmarks are never part of scripts/test.sh. Extra arguments go to
# bench/programs.py (e.g. --runs 9).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/scripts/lib.sh"
"$root/scripts/build.sh" >&2
build="${ORBEX_BUILD_DIR:-$root/build}"
# The intake is timed under Wine too, built for Windows.
"$root/scripts/build-windows.sh" >&2
windows_build="${ORBEX_WINDOWS_BUILD_DIR:-$build-windows}"

work="$(mktemp -d /tmp/orbex-bench.XXXXXX)"
chmod 700 "$work"
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  start_xvfb "$work"
fi
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
export NO_AT_BRIDGE=1

# Each step's own chatter goes to a log, shown only when the step fails.
step() {
  local name="$1"
  shift
  echo "bench: $name" >&2
  "$@" >"$work/$name.json" 2>"$work/step.log" || { cat "$work/step.log" >&2; exit 1; }
}
step progress "$build/tests/progress/bench_progress" --benchmark_format=json
# Each run times LoadRgba and FFmpeg alone on the same file in turn.
png_runs=()
for run in 1 2 3 4 5; do
  step "png-$run" "$build/tests/png/bench_png" --benchmark_format=json
  png_runs+=("$work/png-$run.json")
done
step programs python3 "$root/bench/programs.py" "$build" "$windows_build" "$@"
python3 "$root/bench/table.py" "$work/progress.json" "$work/programs.json" "${png_runs[@]}"
