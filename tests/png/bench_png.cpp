// Time and peak memory of loading a 4096 x 4096 RGBA PNG through LoadRgba,
// and of FFmpeg alone decoding the same file, for a ratio.
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
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kSide = 4096;

// Smooth colour ramps with a little noise, like painted artwork: a file far
// below the input cap.
std::vector<uint8_t> artwork() {
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
std::vector<uint8_t> noise() {
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

// The reference: FFmpeg alone reading the file, decoding it and converting
// it to RGBA with the calls LoadRgba makes, without any of its checks.
bool ffmpeg_alone(const char* path, std::vector<uint8_t>& rgba) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::rewind(file);
    AVPacket* packet = av_packet_alloc();
    av_new_packet(packet, static_cast<int>(size));
    const size_t got = std::fread(packet->data, 1, static_cast<size_t>(size), file);
    std::fclose(file);

    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    AVFrame* frame = av_frame_alloc();
    avcodec_open2(context, decoder, nullptr);
    avcodec_send_packet(context, packet);
    avcodec_send_packet(context, nullptr);
    const bool ok = got == static_cast<size_t>(size) && avcodec_receive_frame(context, frame) == 0;
    if (ok) {
        SwsContext* converter = sws_getContext(
            frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
            frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
        rgba.resize(static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height) * 4);
        uint8_t* planes[4] = {rgba.data(), nullptr, nullptr, nullptr};
        int strides[4] = {frame->width * 4, 0, 0, 0};
        sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
        sws_freeContext(converter);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return ok;
}

bool load_rgba(const char* path, std::vector<uint8_t>& rgba) {
    OrbexPng::Image image;
    const bool ok =
        OrbexPng::LoadRgba(path, image) && image.width == kSide && image.height == kSide;
    rgba.swap(image.pixels);
    return ok;
}

// The test pictures, each written once for all the decoders that read it,
// in a folder removed when the benchmark ends.
struct Pictures {
    TempFolder temp{"orbex-png"};
    std::string folder = temp.str();
    std::map<std::vector<uint8_t> (*)(), std::pair<std::string, size_t>> written;

    // The path and size of the file, or an empty path when it could not be written.
    std::pair<std::string, size_t> file(std::vector<uint8_t> (*make)()) {
        auto found = written.find(make);
        if (found == written.end()) {
            const std::vector<uint8_t> png = make();
            const std::string path = folder + "/picture-" + std::to_string(written.size()) + ".png";
            const bool ok = !png.empty() && TestPng::WriteFile(path, png);
            found =
                written.emplace(make, std::make_pair(ok ? path : std::string(), png.size())).first;
        }
        return found->second;
    }
};

// Runs `decoder` on the picture `make` writes. The benchmarks run LoadRgba
// and FFmpeg alone in turn on each picture.
void load(benchmark::State& state, std::vector<uint8_t> (*make)(),
          bool (*decoder)(const char*, std::vector<uint8_t>&)) {
    static Pictures pictures;
    const auto [path, file_bytes] = pictures.file(make);
    if (path.empty()) {
        state.SkipWithError("could not write the test picture");
        return;
    }
    // Memory an earlier benchmark gave back stays resident in the allocator
    // unless trimmed, and would be reused unseen by the peak.
    malloc_trim(0);
    const bool peak_known = reset_peak();
    const long baseline_kb = status_kb("VmRSS");

    for (auto _ : state) {
        std::vector<uint8_t> rgba;
        if (!decoder(path.c_str(), rgba) || rgba.size() != size_t{kSide} * kSide * 4) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(rgba.data());
    }

    const double mib = 1024.0 * 1024.0;
    const double pixel_bytes = double(kSide) * kSide * 4;
    state.counters["file_MiB"] = double(file_bytes) / mib;
    // The decoder's own frame of an RGBA picture is as large as the result.
    state.counters["bound_MiB"] = (double(file_bytes) + pixel_bytes + pixel_bytes) / mib;
    if (peak_known && baseline_kb >= 0) {
        state.counters["peak_MiB"] = double(status_kb("VmHWM") - baseline_kb) / 1024.0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file_bytes));
}

}  // namespace

BENCHMARK_CAPTURE(load, artwork_4096, artwork, load_rgba)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(load, artwork_4096_ffmpeg, artwork, ffmpeg_alone)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(load, noise_4096, noise, load_rgba)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(load, noise_4096_ffmpeg, noise, ffmpeg_alone)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
