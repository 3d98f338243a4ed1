// Makes PNG files for the tests with FFmpeg's own PNG encoder, so the tests
// need no picture files in the repository.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace TestPng {

// Encodes one picture. planes[0] holds the rows of the given pixel format,
// packed (stride = bytes per pixel * width); for AV_PIX_FMT_PAL8, palette
// holds 256 entries as 0xAARRGGBB. Returns no bytes when encoding fails.
std::vector<uint8_t> Encode(int width, int height, AVPixelFormat format, const std::vector<uint8_t>& rows,
                            const std::vector<uint32_t>& palette = {});

// An RGBA picture whose pixel (x, y) is (x, y, x ^ y, 255), each taken mod 256.
std::vector<uint8_t> EncodePattern(int width, int height);

// One colour all over.
std::vector<uint8_t> EncodeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace TestPng
