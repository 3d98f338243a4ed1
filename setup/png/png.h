// Decodes one PNG picture into tightly packed RGBA bytes through FFmpeg.
// Knows nothing of SDL or of any window, so it builds and tests by itself.
#pragma once

#include <cstdint>
#include <vector>

namespace OrbexPng {

// A decoded picture: width x height pixels, each R, G, B, A (8 bits each),
// top row first, rows packed without gaps (stride width * 4).
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// Largest PNG input that is decoded, and largest side of a decoded picture.
constexpr uint64_t kMaxInputBytes = 67108864;
constexpr int32_t kMaxSide = 4096;

// Reads the file at path (UTF-8 text; may be null) and decodes it. On false the image is
// empty; the reason, if any, went to standard error.
bool LoadRgba(const char* path, Image& image);

// Decodes size bytes of PNG data (data may be null). On false the image is
// empty; the reason, if any, went to standard error.
bool DecodeRgba(const uint8_t* data, uint64_t size, Image& image);

}  // namespace OrbexPng
