// Time and peak memory of loading a 4096 x 4096 RGBA PNG through LoadRgba.
//
// Peak memory is the process's resident high-water mark (VmHWM), reset just
// before the measured loads so that making the test picture does not count,
// less the resident size at that moment. The loader's bound is the file's
// bytes plus the picture's bytes plus the decoder's own frame.
#include "png/png.h"
#include "peak_memory.h"
#include "png_writer.h"
#include "temp_folder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kSide = 4096;

// Smooth colour ramps with a little noise, like painted artwork: a file far
// below the input cap.
std::vector<uint8_t> artwork()
{
    std::vector<uint8_t> rows(static_cast<size_t>(kSide) * kSide * 4);
    uint32_t seed = 12345;
    size_t i = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const uint8_t grain = static_cast<uint8_t>(seed >> 29);
            rows[i++] = static_cast<uint8_t>((x >> 4) + grain);
            rows[i++] = static_cast<uint8_t>((y >> 4) + grain);
            rows[i++] = static_cast<uint8_t>(((x + y) >> 5) + grain);
            rows[i++] = 255;
        }
    }
    return TestPng::Encode(kSide, kSide, AV_PIX_FMT_RGBA, rows);
}

// Colour noise with opaque alpha: close to the largest file such a picture
// can give within the input cap.
std::vector<uint8_t> noise()
{
    std::vector<uint8_t> rows(static_cast<size_t>(kSide) * kSide * 4);
    uint32_t seed = 777;
    for (size_t i = 0; i < rows.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            seed = seed * 1664525u + 1013904223u;
            rows[i + static_cast<size_t>(c)] = static_cast<uint8_t>(seed >> 24);
        }
        rows[i + 3] = 255;
    }
    return TestPng::Encode(kSide, kSide, AV_PIX_FMT_RGBA, rows);
}

void load(benchmark::State& state, std::vector<uint8_t> (*make)())
{
    const TempFolder temp("orbex-png");
    const std::string folder = temp.str();
    const std::string path = folder + "/picture.png";
    size_t file_bytes = 0;
    {
        const std::vector<uint8_t> png = make();
        file_bytes = png.size();
        if (png.empty() || !TestPng::WriteFile(path, png)) {
            state.SkipWithError("could not write the test picture");
            return;
        }
    }
    const bool peak_known = reset_peak();
    const long baseline_kb = status_kb("VmRSS");

    for (auto _ : state) {
        OrbexPng::Image image;
        if (!OrbexPng::LoadRgba(path.c_str(), image) || image.width != kSide || image.height != kSide) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels.data());
    }

    const double mib = 1024.0 * 1024.0;
    const double pixel_bytes = double(kSide) * kSide * 4;
    state.counters["file_MiB"] = double(file_bytes) / mib;
    // The decoder's own frame of an RGBA picture is as large as the result.
    state.counters["bound_MiB"] = (double(file_bytes) + pixel_bytes + pixel_bytes) / mib;
    if (peak_known && baseline_kb >= 0) {
        state.counters["peak_MiB"] = double(status_kb("VmHWM") - baseline_kb) / 1024.0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file_bytes));
}

}  // namespace

BENCHMARK_CAPTURE(load, artwork_4096, artwork)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(load, noise_4096, noise)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
