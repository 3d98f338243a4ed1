// Writes the PNG fuzzer's seeds into the folder named by its argument: the
// pictures the loader's tests decode (every colour type and depth, written
// by FFmpeg's encoder through the tests' own writer), and a few laid out by
// hand with what the encoder never writes (interlacing, compressed text and
// profile chunks, a side above the limit, a file cut short).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "png_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 8-bit RGBA rows, each with filter byte 0, laid out as the interlace asks.
Bytes hand_made(uint32_t width, uint32_t height, uint8_t interlace,
                const std::vector<std::pair<const char*, Bytes>>& extra) {
    // Enough zero rows for either layout: each Adam7 pass row has its own filter byte.
    const Bytes rows((1 + width * 4) * height * 2, 0);
    return TestPng::HandMade(width, height, 8, 6, interlace, TestPng::Deflate(rows), extra);
}

Bytes named_stream(const char* name, const Bytes& raw) {
    return TestPng::NamedStream(name, TestPng::Deflate(raw));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int written = 0;
    bool ok = true;
    const auto seed = [&](const std::string& name, const Bytes& bytes) {
        ok = ok && !bytes.empty() && TestPng::WriteFile(folder + "/" + name + ".png", bytes);
        ++written;
    };

    // One row of 16 pixels in each format the loader's tests cover.
    const int n = 16;
    Bytes levels(n * 8);
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<uint8_t>(i * 37);
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < palette.size(); ++i)
        palette[i] = (i << 24) | (i * 0x010203u & 0xffffffu);
    const struct {
        const char* name;
        AVPixelFormat format;
        size_t bytes_per_row;
    } formats[] = {
        {"grey", AV_PIX_FMT_GRAY8, n},          {"grey-alpha", AV_PIX_FMT_YA8, n * 2},
        {"rgb", AV_PIX_FMT_RGB24, n * 3},       {"rgba", AV_PIX_FMT_RGBA, n * 4},
        {"palette", AV_PIX_FMT_PAL8, n},        {"1-bit", AV_PIX_FMT_MONOBLACK, n / 8},
        {"grey16", AV_PIX_FMT_GRAY16BE, n * 2}, {"grey16-alpha", AV_PIX_FMT_YA16BE, n * 4},
        {"rgb48", AV_PIX_FMT_RGB48BE, n * 6},   {"rgba64", AV_PIX_FMT_RGBA64BE, n * 8},
    };
    for (const auto& f : formats)
        seed(f.name,
             TestPng::Encode(n, 1, f.format,
                             Bytes(levels.begin(), levels.begin() + f.bytes_per_row), palette));

    seed("pattern-7x5", TestPng::EncodePattern(7, 5));
    seed("translucent-1x1", TestPng::EncodeSolid(1, 1, 200, 30, 90, 128));
    seed("interlaced-9x6", hand_made(9, 6, 1, {}));
    seed("text-and-profile", hand_made(2, 2, 0,
                                       {{"zTXt", named_stream("Comment", Bytes(64, 'x'))},
                                        {"iCCP", named_stream("icc", Bytes(128, 1))},
                                        {"tEXt", Bytes{'A', 0, 'b'}}}));
    seed("too-wide-4097x1", hand_made(4097, 1, 0, {}));
    Bytes cut = TestPng::EncodePattern(4, 4);
    cut.resize(cut.size() / 2);
    seed("cut-short", cut);

    if (!ok) {
        std::fprintf(stderr, "make_seeds: could not write the %d seeds into %s\n", written,
                     folder.c_str());
        return 1;
    }
    return 0;
}
