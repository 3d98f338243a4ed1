// Makes PNG files for the tests, benchmarks and fuzzers, so that they need no
// picture files in the repository: with FFmpeg's own PNG encoder, or laid out
// chunk by chunk for what no encoder writes. Also the few readings the PNG
// tests share: the loader's own lines and the process's peak memory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace TestPng {

// Encodes one picture. planes[0] holds the rows of the given pixel format,
// packed (stride = bytes per pixel * width); for AV_PIX_FMT_PAL8, palette
// holds 256 entries as 0xAARRGGBB. Returns no bytes when encoding fails.
std::vector<uint8_t> Encode(int width, int height, AVPixelFormat format,
                            const std::vector<uint8_t>& rows,
                            const std::vector<uint32_t>& palette = {});

// An RGBA picture whose pixel (x, y) is (x, y, x ^ y, 255), each taken mod 256.
std::vector<uint8_t> EncodePattern(int width, int height);

// One colour all over.
std::vector<uint8_t> EncodeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// A PNG laid out by hand: signature, IHDR of the given depth, colour type
// and interlace method, the extra chunks as they are, the image data split
// into IDAT chunks of 64 KiB as encoders do, IEND.
std::vector<uint8_t> HandMade(
    uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, uint8_t interlace,
    const std::vector<uint8_t>& image_data,
    const std::vector<std::pair<const char*, std::vector<uint8_t>>>& extra = {});

// Appends one chunk (length, type, body, CRC) to png.
void AddChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body);

// A zlib stream of raw, at the highest level; no bytes when zlib fails.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw);

// A zTXt or iCCP body: a name, its end, compression method 0, the stream.
std::vector<uint8_t> NamedStream(const char* name, const std::vector<uint8_t>& stream);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace TestPng
