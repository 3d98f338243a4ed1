// OrbexPng::DecodeRgba on any bytes, and OrbexPng::LoadRgba on a file of the
// same bytes (which hands the decoder the file's own buffer rather than a
// copy). Besides the sanitizers' checks, every result must be one of the
// loader's two states, a picture within the limits with exactly its pixels
// or nothing at all, whatever the image held before; and both roads must
// give the same picture.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../scratch.h"
#include "png/png.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // FFmpeg's own complaints about broken files would drown the run's output.
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

namespace {

// Something left from an earlier call, which the loader must drop.
OrbexPng::Image used_image() {
    OrbexPng::Image image;
    image.width = 3;
    image.height = 1;
    image.pixels.assign(12, 0xab);
    return image;
}

void check_state(bool ok, const OrbexPng::Image& image, const char* road) {
    if (ok) {
        if (image.width < 1 || image.width > OrbexPng::kMaxSide || image.height < 1 ||
            image.height > OrbexPng::kMaxSide ||
            image.pixels.size() !=
                static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height) * 4) {
            std::fprintf(stderr, "fuzz_png_decode: %s gave a %dx%d picture with %zu bytes\n", road,
                         image.width, image.height, image.pixels.size());
            std::abort();
        }
    } else if (image.width != 0 || image.height != 0 || !image.pixels.empty() ||
               image.pixels.capacity() != 0) {
        std::fprintf(stderr, "fuzz_png_decode: a refusal by %s left %dx%d and %zu bytes\n", road,
                     image.width, image.height, image.pixels.size());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OrbexPng::Image decoded = used_image();
    const bool decoded_ok = OrbexPng::DecodeRgba(size ? data : nullptr, size, decoded);
    check_state(decoded_ok, decoded, "DecodeRgba");

    static const fuzz::MemoryFile file("png");
    file.fill(data, size);
    OrbexPng::Image loaded = used_image();
    const bool loaded_ok = OrbexPng::LoadRgba(file.path.c_str(), loaded);
    check_state(loaded_ok, loaded, "LoadRgba");

    if (decoded_ok != loaded_ok || decoded.width != loaded.width ||
        decoded.height != loaded.height || decoded.pixels != loaded.pixels) {
        std::fprintf(stderr, "fuzz_png_decode: the file gave %s %dx%d, the bytes %s %dx%d\n",
                     loaded_ok ? "a picture" : "nothing", loaded.width, loaded.height,
                     decoded_ok ? "a picture" : "nothing", decoded.width, decoded.height);
        std::abort();
    }
    return 0;
}
