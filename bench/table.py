#!/usr/bin/env python3
"""Prints the one table of scripts/bench.sh (Markdown) from the JSON of
bench_progress, bench_png (Google Benchmark) and bench/programs.py, with
the machine it ran on and how each figure was taken.

Usage: table.py PROGRESS_JSON PNG_JSON PROGRAMS_JSON
"""
import json
import os
import platform
import sys
import time


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memory = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                memory = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
                break
    return (f"nproc {len(os.sched_getaffinity(0))}, {model}, {memory} memory, "
            f"Linux {platform.release()}")


def by_name(report):
    return {b["name"]: b for b in report["benchmarks"]}


def duration(bench):
    """A benchmark's real time per iteration, in a readable unit."""
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[bench["time_unit"]]
    seconds = bench["real_time"] * unit
    if seconds < 1e-3:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e3:.0f} ms"


def spread(figure, unit="ms", scale=1.0):
    return (f"{figure['median'] * scale:.0f} {unit} (median; {figure['min'] * scale:.0f} to "
            f"{figure['max'] * scale:.0f} {unit})")


def main():
    progress, png, programs = (json.load(open(path)) for path in sys.argv[1:4])
    p, g = by_name(progress), by_name(png)
    runs = programs["runs"]
    rows = []

    small = p["BM_ReadProgress_SmallFile"]
    large = p["BM_ReadProgress_LargeFile"]
    endless = p["BM_ReadProgress_EndlessLine"]
    rows.append(("status-line reader, small file", f"{duration(small)} per read", "bench_progress [1]"))
    rows.append((f"status-line reader, {large['label']} file, same first line", f"{duration(large)} per read",
                 "bench_progress [1]"))
    rows.append((f"status-line reader, {endless['label']} first line without end", f"{duration(endless)} per read",
                 "bench_progress [1]"))
    for name, what in (("load/artwork_4096/real_time", "artwork"), ("load/noise_4096/real_time", "noise")):
        b = g[name]
        rows.append((f"OrbexPng::LoadRgba, 4096 x 4096 {what} ({b['file_MiB']:.1f} MiB file)",
                     f"{duration(b)}, peak {b['peak_MiB']:.0f} MiB", "bench_png [2]"))

    rows.append(("orbex-setup start to first presented frame", spread(programs["setup_first_frame_ms"]),
                 f"programs.py, {runs} runs [3]"))
    rows.append(("same, with a 4096 x 4096 background", spread(programs["setup_first_frame_bg_ms"]),
                 f"programs.py, {runs} runs [3]"))
    idle = programs["setup_idle_cpu"]
    rows.append((f"orbex-setup idling on the progress screen, {idle['wall_s']:.0f} s",
                 f"{idle['cpu_s']:.2f} s CPU ({100 * idle['cpu_s'] / idle['wall_s']:.0f} % of one core)",
                 "programs.py [4]"))
    rows.append(("orbex-setup peak memory (VmHWM), no background",
                 spread(programs["setup_peak_kb"], "MiB", 1 / 1024), f"programs.py, {runs} runs [5]"))
    rows.append(("orbex-setup peak memory (VmHWM), 4096 x 4096 background",
                 spread(programs["setup_peak_bg_kb"], "MiB", 1 / 1024), f"programs.py, {runs} runs [5]"))
    rows.append(("Morvane: host's port answering to browser window shown", spread(programs["morvane_window_ms"]),
                 f"programs.py, {runs} runs [6]"))
    rows.append(("Morvane: host's port answering to its page on screen", spread(programs["morvane_page_ms"]),
                 f"programs.py, {runs} runs [6]"))

    print(f"Benchmarks, {time.strftime('%Y-%m-%d')}, on {machine()}; X server Xvfb.")
    print()
    print("| measure | result | from |")
    print("|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()
    print("[1] Google Benchmark: `read_progress` on a file of one status line, on a file whose same first "
          "line is followed by 512 MiB of empty lines, and on a file whose first line never ends.")
    print("[2] Google Benchmark: file read and decode to RGBA; peak is the process's resident high-water "
          "mark (VmHWM) during the loads, less its resident size before them.")
    print("[3] From just before the program is started until one pixel of its window, clear of any text "
          "(20 px from the bottom-right corner), shows what a presented frame paints there: the plum clear "
          "colour under the two veils, or the picture under them. The pixel is read from the X server with "
          "XGetImage about every millisecond (Xlib through ctypes). Progress screen, valid status line.")
    print("[4] utime + stime of the process from /proc/<pid>/stat, over the interval, starting 1 s after "
          "the first frame; the status line says \"working\", so the spinner turns.")
    print("[5] VmHWM from /proc/<pid>/status, 1 s after the first frame; the background picture, set through "
          "ORBEX_OVERLAY_BACKGROUND, is a 4096 x 4096 RGBA PNG written by the script with zlib.")
    print("[6] A stand-in host (bench/bench_host.py) notes the time (CLOCK_MONOTONIC) as soon as it listens, "
          "then writes launcher.port; shown is when Morvane's window named \"Morvane\" is mapped (viewable), "
          "page when its pixels show the page's colour. Includes the launcher's up to 100 ms pause between "
          "two probes.")


if __name__ == "__main__":
    main()
