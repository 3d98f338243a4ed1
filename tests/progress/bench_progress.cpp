// Reading the status file: a small file, a file of several hundred MB behind
// the same short first line (the cost must not grow with the file), and a
// file whose first line has no end at all (the cost must stay bounded).
#include "progress.h"
#include "temp_folder.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static const char first_line[] = "working\t3\t5\tCopying game files\n";
static fs::path small_file, large_file, endless_file;

static bool write_file(const fs::path& path, const std::string& start, std::uintmax_t size,
                       char fill) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(start.data(), 1, start.size(), f) == start.size();
    // Written for real, byte by byte on disk, rather than sparse.
    std::vector<char> block(1 << 20, fill);
    for (std::uintmax_t left = size > start.size() ? size - start.size() : 0; ok && left > 0;) {
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        ok = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    return std::fclose(f) == 0 && ok;
}

static void report_peak(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

static void read_file(benchmark::State& state, const fs::path& path, const char* expect_state) {
    Progress p;
    p.state = "error";
    for (auto _ : state) {
        p = read_progress(path.c_str(), std::move(p));
        benchmark::DoNotOptimize(p);
    }
    if (p.state != expect_state)
        state.SkipWithError("the file did not read as expected");
    state.SetLabel(std::to_string(fs::file_size(path) >> 20) + " MiB");
    report_peak(state);
}

static void BM_ReadProgress_SmallFile(benchmark::State& state) {
    read_file(state, small_file, "working");
}
static void BM_ReadProgress_LargeFile(benchmark::State& state) {
    read_file(state, large_file, "working");
}
static void BM_ReadProgress_EndlessLine(benchmark::State& state) {
    read_file(state, endless_file, "error");
}

BENCHMARK(BM_ReadProgress_SmallFile);
BENCHMARK(BM_ReadProgress_LargeFile);
BENCHMARK(BM_ReadProgress_EndlessLine);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const TempFolder folder("orbex-bench-progress");
    const fs::path dir = folder.path();
    small_file = dir / "small";
    large_file = dir / "large";
    endless_file = dir / "endless";
    const std::uintmax_t big = std::uintmax_t{512} << 20;
    // Behind the large file's first line lie only empty lines; the endless
    // file's first line never ends (its total field is blanks to the end).
    const bool ready = write_file(small_file, first_line, 0, '\n') &&
                       write_file(large_file, first_line, big, '\n') &&
                       write_file(endless_file, "working\t1\t", big, ' ');
    if (ready)
        benchmark::RunSpecifiedBenchmarks();
    else
        std::perror("writing the benchmark's files");
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
