#!/usr/bin/env python3
"""Prints the one table of scripts/bench.sh (Markdown) from the JSON of
bench_progress, bench_png (Google Benchmark, one file a run) and
bench/programs.py: each figure of ours beside its reference from the same
run and their ratio, with the machine it ran on and how each was taken.

Usage: table.py PROGRESS_JSON PROGRAMS_JSON PNG_JSON...
"""
import json
import os
import platform
import statistics
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


def cpu_milliseconds(bench):
    unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[bench["time_unit"]]
    return bench["cpu_time"] * unit


def ratio(ours, reference):
    return f"{ours / reference:.2f} x" if reference else "-"


def main():
    progress, programs = (json.load(open(path)) for path in sys.argv[1:3])
    png_runs = [by_name(json.load(open(path))) for path in sys.argv[3:]]
    p = by_name(progress)
    runs = programs["runs"]
    median = statistics.median

    def figure(key, scale=1.0):
        return programs[key]["median"] * scale

    # measure, ours, reference, ratio, from
    rows = []
    small = p["BM_ReadProgress_SmallFile"]
    large = p["BM_ReadProgress_LargeFile"]
    endless = p["BM_ReadProgress_EndlessLine"]
    rows.append(("status-line reader, small file", f"{duration(small)} per read", "", "", "bench_progress [1]"))
    rows.append((f"status-line reader, {large['label']} file, same first line", f"{duration(large)} per read",
                 "", "", "bench_progress [1]"))
    rows.append((f"status-line reader, {endless['label']} first line without end",
                 f"{duration(endless)} per read", "", "", "bench_progress [1]"))
    for name, what in (("artwork_4096", "artwork"), ("noise_4096", "noise")):
        ours = [r[f"load/{name}/real_time"] for r in png_runs]
        alone = [r[f"load/{name}_ffmpeg/real_time"] for r in png_runs]
        ours_ms, alone_ms = median(map(cpu_milliseconds, ours)), median(map(cpu_milliseconds, alone))
        ours_peak, alone_peak = median(b["peak_MiB"] for b in ours), median(b["peak_MiB"] for b in alone)
        where = f"bench_png, {len(png_runs)} runs [2]"
        rows.append((f"`LoadRgba`, 4096 x 4096 {what} ({ours[0]['file_MiB']:.1f} MiB file): CPU time",
                     f"{ours_ms:.0f} ms", f"{alone_ms:.0f} ms (FFmpeg alone)", ratio(ours_ms, alone_ms), where))
        rows.append(("`LoadRgba`, same file: peak memory", f"{ours_peak:.0f} MiB",
                     f"{alone_peak:.0f} MiB (FFmpeg alone)", ratio(ours_peak, alone_peak), where))

    where = f"programs.py, {runs} runs [3]"
    setup_first = figure("setup_first_frame_ms")
    for key, name in (("zenity", "`zenity --progress`"), ("imgui", "Dear ImGui's SDL3 example")):
        reference = figure(f"{key}_first_frame_ms")
        rows.append(("orbex-setup start to first presented frame", f"{setup_first:.0f} ms",
                     f"{reference:.0f} ms ({name})", ratio(setup_first, reference), where))
    idle = figure("setup_idle_cpu_percent")
    for key, name in (("zenity", "`zenity --progress`"), ("imgui", "Dear ImGui's SDL3 example")):
        reference = figure(f"{key}_idle_cpu_percent")
        rows.append((f"orbex-setup idling on the progress screen, {programs['idle_seconds']:.0f} s: CPU",
                     f"{idle:.1f} % of a core", f"{reference:.1f} % ({name})", ratio(idle, reference),
                     f"programs.py, {runs} runs [4]"))
    peak = figure("setup_peak_kb", 1 / 1024)
    for key, name in (("zenity", "`zenity --progress`"), ("imgui", "Dear ImGui's SDL3 example")):
        reference = figure(f"{key}_peak_kb", 1 / 1024)
        rows.append(("orbex-setup peak memory (VmHWM), no background", f"{peak:.0f} MiB",
                     f"{reference:.0f} MiB ({name})", ratio(peak, reference), f"programs.py, {runs} runs [5]"))
    rows.append(("orbex-setup start to first frame, 4096 x 4096 background",
                 f"{figure('setup_first_frame_bg_ms'):.0f} ms", "", "", where))
    rows.append(("orbex-setup peak memory (VmHWM), 4096 x 4096 background",
                 f"{figure('setup_peak_bg_kb', 1 / 1024):.0f} MiB", "", "", f"programs.py, {runs} runs [5]"))
    morvane_page, bare_page = figure("morvane_page_ms"), figure("webview_page_ms")
    rows.append(("Morvane: host's port answering to browser window shown", f"{figure('morvane_window_ms'):.0f} ms",
                 "", "", f"programs.py, {runs} runs [6]"))
    rows.append(("Morvane: host's port answering to its page on screen", f"{morvane_page:.0f} ms",
                 f"{bare_page:.0f} ms (bare webview window, start to page)", ratio(morvane_page, bare_page),
                 f"programs.py, {runs} runs [6]"))

    where = f"bench_intake, {runs} runs [7]"
    for key, count, system in (("intake_10000", 10000, ""), ("wine_intake_300", 300, " under Wine"),
                               ("wine_intake_2000", 2000, " under Wine")):
        rows.append((f"{count:,} names of one pick committed{system}, none chosen before",
                     f"{figure(f'{key}_first_s', 1000):.0f} ms", "", "", where))
        rows.append((f"{count:,} names of one pick committed{system}, all already chosen",
                     f"{figure(f'{key}_again_s', 1000):.0f} ms", "", "", where))
    where = f"programs.py, {runs} runs [8]"
    long_shown, short_shown = figure("list_10000_shown_ms"), figure("list_3_shown_ms")
    rows.append(("orbex-setup: chooser's answer of 10,000 names until they show chosen", f"{long_shown:.0f} ms",
                 f"{short_shown:.0f} ms (3 names)", ratio(long_shown, short_shown), where))
    long_cpu, short_cpu = figure("list_10000_cpu_percent"), figure("list_3_cpu_percent")
    rows.append((f"orbex-setup idling with 10,000 packages chosen, {programs['idle_seconds']:.0f} s: CPU",
                 f"{long_cpu:.1f} % of a core", f"{short_cpu:.1f} % (3 chosen)", ratio(long_cpu, short_cpu),
                 where))

    print(f"Benchmarks, {time.strftime('%Y-%m-%d')}, on {machine()}; X server Xvfb. Figures are medians; "
          "each reference ran in the same run, alternating with ours.")
    print()
    print("| measure | ours | reference | ratio | from |")
    print("|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()
    print("[1] Google Benchmark: `read_progress` on a file of one status line, on a file whose same first "
          "line is followed by 512 MiB of empty lines, and on a file whose first line never ends.")
    print("[2] Google Benchmark, run after run, each run timing `LoadRgba` then FFmpeg alone (file read, "
          "decode, conversion to RGBA with the same calls, no checks) on the same file; CPU time of the "
          "process per load (one thread), so that time spent waiting for a core on a busy machine does not "
          "count; peak is the process's resident high-water mark (VmHWM) during the loads, less its resident "
          "size before them.")
    print("[3] From just before the program is started until one pixel of its window, clear of any text "
          "(20 px from the bottom-right corner), shows what a presented frame paints there: orbex-setup's plum "
          "clear colour under the two veils or the picture under them, the example's clear colour, zenity's "
          "window background. The pixel is read from the X server with XGetImage about every millisecond "
          "(Xlib through ctypes). orbex-setup on its progress screen with a valid status line; zenity "
          "`--progress --percentage=40`; the example as Dear ImGui ships it, built from the same Dear ImGui "
          "and SDL3 sources at -O2.")
    print("[4] utime + stime of the process from /proc/<pid>/stat over the interval, starting 1 s after the "
          "first frame; orbex-setup's status line says \"working\", so its spinner turns; zenity's input "
          "stays open with nothing on it.")
    print("[5] VmHWM from /proc/<pid>/status at the end of the idle interval (orbex-setup with a background: "
          "1 s after the first frame); the background picture, set through ORBEX_OVERLAY_BACKGROUND, is a "
          "4096 x 4096 RGBA PNG written by the script with zlib.")
    print("[6] The test host (tests/launcher/test_host.py) notes the time (CLOCK_MONOTONIC) as soon as it "
          "listens, then writes launcher.port; shown is when Morvane's window is mapped (viewable), page when "
          "its pixels show the page's colour; this includes the launcher's up to 100 ms pause between two "
          "probes. The reference is a few lines of C linked to the same webview library (create, title, "
          "size, navigate, run), started once the same host listens, timed from its start to the page.")
    print("[7] bench/bench_intake.cpp: N small `.pkg` files in a fresh temporary folder, their absolute names "
          "handed to `picker_callback` and taken by `take_picker_result` in DLC mode, which is all one pick "
          "costs the program; timed with std::chrono from the callback to the end of the intake, once into an "
          "empty selection and once more with the same names, which are then all chosen. Median of the runs "
          "inside one process. The same source cross-built with mingw-w64 runs under Wine (wine-prefix of the "
          "tests, held as they hold it), on files in the prefix's temporary folder.")
    print("[8] The real orbex-setup `--mode dlc` with the zenity stand-in of the picker tests first on PATH: "
          "Select pressed, the stand-in answers N names of existing files (3, then 10,000, run after run); "
          "shown is from the answer being written until the accept button's pixel turns enabled (read with "
          "XGetImage), which includes the stand-in's up to 50 ms wait for its answer. Then, the list at its top, the pointer "
          "parked in a corner and 1 s later, utime + stime of the process over the idle interval as in [4]; "
          "accepting afterwards must print all N names.")


if __name__ == "__main__":
    main()
