// PNG files that cost far more than their size: a small file declaring a
// huge picture, image data that inflates to gigabytes, and compressed text or
// colour profiles that do the same. Each must be refused quickly and without
// claiming the memory it asks for, while honest files of the same shapes
// still decode.
#include "ffmpeg_lines.h"
#include "peak_memory.h"
#include "png/png.h"
#include "png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes zlib_of_zeros(size_t count) {
    Bytes out = TestPng::Deflate(Bytes(count, 0));
    EXPECT_FALSE(out.empty());
    return out;
}

// A zlib stream of `mebibytes` MiB of zero bytes, built by repeating one
// fully flushed block, so that a stream of gigabytes costs nothing to make.
// Its checksum is left wrong: it is only ever read up to the refusal.
Bytes zlib_bomb(size_t mebibytes) {
    z_stream stream{};
    EXPECT_EQ(Z_OK, deflateInit(&stream, 9));
    Bytes zeros(size_t{1} << 20, 0);
    Bytes first(8192);
    Bytes block(8192);
    const auto flush = [&](Bytes& out) {
        stream.next_in = zeros.data();
        stream.avail_in = static_cast<uInt>(zeros.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(Z_OK, deflate(&stream, Z_FULL_FLUSH));
        out.resize(out.size() - stream.avail_out);
    };
    flush(first);  // the stream header, then one MiB of zeros
    flush(block);  // one MiB of zeros that needs nothing before it
    Bytes end(64);
    stream.next_out = end.data();
    stream.avail_out = static_cast<uInt>(end.size());
    EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
    end.resize(end.size() - stream.avail_out);
    deflateEnd(&stream);

    Bytes out = first;
    out.reserve(first.size() + block.size() * mebibytes + end.size());
    for (size_t i = 1; i < mebibytes; ++i) {
        out.insert(out.end(), block.begin(), block.end());
    }
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

struct Outcome {
    bool decoded;
    std::string lines;  // the loader's own lines, FFmpeg's left out
    double seconds;
    long peak_growth_mb;  // resident high-water mark over the call, or -1
};

Outcome decode(const Bytes& png, OrbexPng::Image& image) {
    // Starts the high-water mark afresh, where the kernel allows it.
    const bool peak_known = reset_peak();
    const long before = status_kb("VmRSS");
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const bool decoded = OrbexPng::DecodeRgba(png.data(), png.size(), image);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string lines = without_ffmpeg_lines(::testing::internal::GetCapturedStderr());
    const long growth = peak_known && before >= 0 ? (status_kb("VmHWM") - before) / 1024 : -1;
    return {decoded, lines, seconds, growth};
}

std::string refusal(const char* size, size_t bytes) {
    return "ORBEX PNG: compressed data inflates far beyond a " + std::string(size) + " picture (" +
           std::to_string(bytes) + " input bytes)\n";
}

TEST(PngBombs, HugeDeclaredSizesAreRefusedWithoutTheirMemory) {
    // Rows of zeros for the first two lines only; FFmpeg would allocate the
    // whole frame first (a gigabyte for the first) and fill what is missing.
    struct {
        uint32_t width, height;
        uint8_t colour;
        const char* line;
    } cases[] = {
        {16000, 16000, 6, "ORBEX PNG: invalid decoded image dimensions 16000x16000\n"},
        {4096, 60000, 0, "ORBEX PNG: invalid decoded image dimensions 4096x60000\n"},
        {4097, 4096, 0, "ORBEX PNG: invalid decoded image dimensions 4097x4096\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Bytes png = TestPng::HandMade(c.width, c.height, 8, c.colour, 0,
                                            zlib_of_zeros(2 * (1 + c.width * 4)));
        OrbexPng::Image image;
        const Outcome out = decode(png, image);
        EXPECT_FALSE(out.decoded);
        EXPECT_EQ(c.line, out.lines);
        EXPECT_EQ(0, image.width);
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_LT(out.seconds, 1.0);
        if (out.peak_growth_mb >= 0) {
            EXPECT_LT(out.peak_growth_mb, 32);
        }
    }
}

TEST(PngBombs, ImageDataThatInflatesFarPastThePictureIsRefusedQuickly) {
    // 2 GiB behind a 1 x 1 picture: FFmpeg inflates all of it two bytes a
    // row, which took tens of seconds; 64 MiB behind a 4096 x 4096 gray one.
    const Bytes tiny = TestPng::HandMade(1, 1, 8, 0, 0, zlib_bomb(2048));
    const Bytes wide = TestPng::HandMade(4096, 4096, 8, 0, 0, zlib_bomb(64));
    for (const auto& c : {std::make_pair(&tiny, "1x1"), std::make_pair(&wide, "4096x4096")}) {
        SCOPED_TRACE(c.second);
        OrbexPng::Image image;
        const Outcome out = decode(*c.first, image);
        EXPECT_FALSE(out.decoded);
        EXPECT_EQ(refusal(c.second, c.first->size()), out.lines);
        EXPECT_LT(out.seconds, 3.0);
    }
}

TEST(PngBombs, CompressedTextAndProfilesThatInflateToGigabytesAreRefused) {
    // FFmpeg keeps both whole in memory, growing its buffer without a bound.
    const Bytes pixel = zlib_of_zeros(2);
    for (const char* type : {"zTXt", "iCCP"}) {
        SCOPED_TRACE(type);
        const Bytes png = TestPng::HandMade(
            1, 1, 8, 0, 0, pixel, {{type, TestPng::NamedStream("Comment", zlib_bomb(1024))}});
        OrbexPng::Image image;
        const Outcome out = decode(png, image);
        EXPECT_FALSE(out.decoded);
        EXPECT_EQ(refusal("1x1", png.size()), out.lines);
        EXPECT_LT(out.seconds, 3.0);
        if (out.peak_growth_mb >= 0) {
            EXPECT_LT(out.peak_growth_mb, 100);
        }
    }
}

// The number of bytes the rows of an Adam7-interlaced gray picture take,
// counted pixel by pixel.
size_t interlaced_gray_bytes(uint32_t width, uint32_t height) {
    const uint32_t pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    size_t total = 0;
    for (const auto& p : pass) {
        size_t columns = 0;
        size_t rows = 0;
        for (uint32_t x = p[0]; x < width; x += p[2]) {
            ++columns;
        }
        for (uint32_t y = p[1]; y < height; y += p[3]) {
            ++rows;
        }
        if (columns > 0) {
            total += rows * (1 + columns);
        }
    }
    return total;
}

TEST(PngBombs, HonestFilesOfTheSameShapesStillDecode) {
    struct {
        const char* what;
        Bytes png;
        int side;
    } cases[] = {
        {"largest gray, interlaced",
         TestPng::HandMade(4096, 4096, 8, 0, 1, zlib_of_zeros(interlaced_gray_bytes(4096, 4096))),
         4096},
        {"16-bit RGBA",
         TestPng::HandMade(1024, 1024, 16, 6, 0, zlib_of_zeros(1024 * (1 + 1024 * 8))), 1024},
        {"rows followed by a little more",
         TestPng::HandMade(64, 64, 8, 0, 0, zlib_of_zeros(64 * 65 + 4000)), 64},
        {"with a 200 KiB comment",
         TestPng::HandMade(1, 1, 8, 0, 0, zlib_of_zeros(2),
                           {{"zTXt", TestPng::NamedStream("Comment", zlib_of_zeros(200 << 10))}}),
         1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        OrbexPng::Image image;
        const Outcome out = decode(c.png, image);
        EXPECT_TRUE(out.decoded);
        EXPECT_EQ("", out.lines);
        EXPECT_EQ(c.side, image.width);
        EXPECT_EQ(c.side, image.height);
    }
}

}  // namespace
