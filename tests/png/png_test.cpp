#include "ffmpeg_lines.h"
#include "png/png.h"
#include "png_writer.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

namespace {

using OrbexPng::Image;

class PngFiles : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = folder_ + "/" + name;
        EXPECT_TRUE(TestPng::WriteFile(path, bytes));
        return path;
    }

    // A file of the given length whose content is all zero bytes, made sparse
    // so that large ones cost no disk.
    std::string Sparse(const std::string& name, off_t length) {
        const std::string path = folder_ + "/" + name;
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(0, ::ftruncate(fd, length));
        ::close(fd);
        return path;
    }

    TempFolder temp_{"orbex-png"};
    std::string folder_ = temp_.str();
};

// Runs a loader call and returns the lines it wrote to standard error.
// FFmpeg's own log lines ("[png @ 0x...] ...") are left out: they are the
// library's, not the loader's.
template <typename Call>
std::string StderrOf(Call call) {
    ::testing::internal::CaptureStderr();
    call();
    return without_ffmpeg_lines(::testing::internal::GetCapturedStderr());
}

void ExpectEmpty(const Image& image) {
    EXPECT_EQ(0, image.width);
    EXPECT_EQ(0, image.height);
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(0u, image.pixels.capacity());
}

// An image holding something, to see that a failing call drops it.
Image Stale() {
    Image image;
    image.width = 3;
    image.height = 5;
    image.pixels.assign(60, 7);
    return image;
}

// True when line is the decoder's failure line for a negative FFmpeg code and
// the given input size, and nothing else.
bool IsDecodingFailedLine(const std::string& line, size_t size) {
    int code = 0;
    if (std::sscanf(line.c_str(), "ORBEX PNG: decoding failed (FFmpeg error %d,", &code) != 1 ||
        code >= 0) {
        return false;
    }
    return line == "ORBEX PNG: decoding failed (FFmpeg error " + std::to_string(code) + ", " +
                       std::to_string(size) + " input bytes)\n";
}

uint32_t PixelAt(const Image& image, int x, int y) {
    const size_t at =
        (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 4;
    const uint8_t* p = image.pixels.data() + at;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return (r << 24) | (g << 16) | (b << 8) | a;
}

// Whether every channel of two packed RGBA values differs by at most slack.
bool Near(uint32_t got, uint32_t want, int slack) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>((got >> shift) & 255),
                  b = static_cast<int>((want >> shift) & 255);
        if (a - b > slack || b - a > slack) {
            return false;
        }
    }
    return true;
}

TEST_F(PngFiles, SizesWithinTheLimitsDecodeAtTheirOwnSize) {
    const struct { int width, height; } sizes[] = {{1, 1}, {1023, 767}, {4096, 3}, {2, 4096}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const std::string path =
            Write("pattern.png", TestPng::EncodePattern(size.width, size.height));
        Image image = Stale();
        ASSERT_TRUE(OrbexPng::LoadRgba(path.c_str(), image));
        EXPECT_EQ(size.width, image.width);
        EXPECT_EQ(size.height, image.height);
        ASSERT_EQ(static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 4,
                  image.pixels.size());
        const int xs[] = {0, size.width / 2, size.width - 1};
        const int ys[] = {0, size.height / 3, size.height - 1};
        for (int y : ys) {
            for (int x : xs) {
                EXPECT_EQ(Rgba(x & 255, y & 255, (x ^ y) & 255, 255), PixelAt(image, x, y))
                    << x << "," << y;
            }
        }
    }
}

TEST_F(PngFiles, SidesAboveTheLimitAreRefusedWithTheirDimensions) {
    const struct {
        int width, height;
        const char* line;
    } cases[] = {{4097, 1, "ORBEX PNG: invalid decoded image dimensions 4097x1\n"},
                 {3, 4097, "ORBEX PNG: invalid decoded image dimensions 3x4097\n"}};
    for (const auto& c : cases) {
        const std::string path = Write("big.png", TestPng::EncodePattern(c.width, c.height));
        Image image = Stale();
        bool ok = true;
        EXPECT_EQ(c.line, StderrOf([&] { ok = OrbexPng::LoadRgba(path.c_str(), image); }));
        EXPECT_FALSE(ok);
        ExpectEmpty(image);
    }
}

// Every PNG colour type and depth comes out as 8-bit RGBA with the same colours.
TEST(PngFormats, EveryInputFormatComesOutAsRgba) {
    // 256 pixels in one row: value v at x = v, so every level is checked.
    const int n = 256;
    std::vector<uint8_t> gray(n), ya8(n * 2), rgb(n * 3), rgba(n * 4), pal(n);
    std::vector<uint8_t> gray16(n * 2), ya16(n * 4), rgb48(n * 6), rgba64(n * 8);
    std::vector<uint32_t> palette(256);
    std::vector<uint32_t> want_gray(n), want_ya(n), want_rgb(n), want_rgba(n), want_pal(n);
    for (int v = 0; v < n; ++v) {
        const uint8_t r = static_cast<uint8_t>(v), g = static_cast<uint8_t>(255 - v),
                      b = static_cast<uint8_t>(v * 7), a = static_cast<uint8_t>(v * 3);
        gray[v] = r;
        ya8[v * 2] = r;
        ya8[v * 2 + 1] = a;
        rgb[v * 3] = r;
        rgb[v * 3 + 1] = g;
        rgb[v * 3 + 2] = b;
        const uint8_t four[] = {r, g, b, a};
        std::memcpy(&rgba[v * 4], four, 4);
        // 16-bit samples v * 257 have v as both bytes, so any fair reduction to 8 bits gives v.
        const uint8_t sixteen[][2] = {{r, r}, {g, g}, {b, b}, {a, a}};
        std::memcpy(&gray16[v * 2], sixteen[0], 2);
        std::memcpy(&ya16[v * 4], sixteen[0], 2);
        std::memcpy(&ya16[v * 4 + 2], sixteen[3], 2);
        for (int c = 0; c < 3; ++c) {
            std::memcpy(&rgb48[v * 6 + c * 2], sixteen[c], 2);
        }
        for (int c = 0; c < 4; ++c) {
            std::memcpy(&rgba64[v * 8 + c * 2], sixteen[c], 2);
        }
        // The palette is stored backwards, so index and colour differ.
        pal[v] = static_cast<uint8_t>(255 - v);
        palette[255 - v] = (uint32_t{a} << 24) | (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
        want_gray[v] = Rgba(r, r, r, 255);
        want_ya[v] = Rgba(r, r, r, a);
        want_rgb[v] = Rgba(r, g, b, 255);
        want_rgba[v] = Rgba(r, g, b, a);
        want_pal[v] = Rgba(r, g, b, a);
    }
    // 1-bit: alternating black and white.
    std::vector<uint8_t> mono(n / 8, 0x55);
    std::vector<uint32_t> want_mono(n);
    for (int x = 0; x < n; ++x) {
        want_mono[x] = (x % 2) ? Rgba(255, 255, 255, 255) : Rgba(0, 0, 0, 255);
    }

    const struct {
        const char* name;
        AVPixelFormat format;
        const std::vector<uint8_t>& rows;
        const std::vector<uint32_t>& want;
        int slack;
    } cases[] = {
        {"grey", AV_PIX_FMT_GRAY8, gray, want_gray, 0},
        {"grey+alpha", AV_PIX_FMT_YA8, ya8, want_ya, 0},
        {"rgb", AV_PIX_FMT_RGB24, rgb, want_rgb, 0},
        {"rgba", AV_PIX_FMT_RGBA, rgba, want_rgba, 0},
        {"palette", AV_PIX_FMT_PAL8, pal, want_pal, 0},
        {"1-bit", AV_PIX_FMT_MONOBLACK, mono, want_mono, 0},
        // The converter's reduction from 16 to 8 bits may land one level high.
        {"grey16", AV_PIX_FMT_GRAY16BE, gray16, want_gray, 1},
        {"grey16+alpha", AV_PIX_FMT_YA16BE, ya16, want_ya, 1},
        {"rgb48", AV_PIX_FMT_RGB48BE, rgb48, want_rgb, 1},
        {"rgba64", AV_PIX_FMT_RGBA64BE, rgba64, want_rgba, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> png = TestPng::Encode(n, 1, c.format, c.rows, palette);
        ASSERT_FALSE(png.empty());
        Image image;
        ASSERT_TRUE(OrbexPng::DecodeRgba(png.data(), png.size(), image));
        ASSERT_EQ(n, image.width);
        ASSERT_EQ(1, image.height);
        int wrong = 0;
        for (int x = 0; x < n && wrong < 4; ++x) {
            if (!Near(PixelAt(image, x, 0), c.want[x], c.slack)) {
                ++wrong;
                ADD_FAILURE() << "x " << x << ": got " << std::hex << PixelAt(image, x, 0)
                              << " want " << c.want[x];
            }
        }
    }
}

TEST_F(PngFiles, EmptyAndOversizedFilesAreRefusedSilently) {
    const struct {
        const char* name;
        off_t length;
    } cases[] = {{"empty.png", 0}, {"over.png", 67108865}, {"far-over.png", off_t{1} << 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Sparse(c.name, c.length);
        Image image = Stale();
        bool ok = true;
        EXPECT_EQ("", StderrOf([&] { ok = OrbexPng::LoadRgba(path.c_str(), image); }));
        EXPECT_FALSE(ok);
        ExpectEmpty(image);
    }
}

TEST_F(PngFiles, AFileOfExactlyTheCapReachesTheDecoderWhole) {
    const std::string path = Sparse("cap.png", 67108864);
    Image image = Stale();
    const std::string err = StderrOf([&] { OrbexPng::LoadRgba(path.c_str(), image); });
    EXPECT_TRUE(IsDecodingFailedLine(err, 67108864)) << err;
    ExpectEmpty(image);
}

// An endless stream must not be read on past the cap: the loader has to give
// up after at most one chunk beyond it.
TEST_F(PngFiles, ReadingStopsSoonAfterTheCap) {
    const std::string path = folder_ + "/stream.png";
    ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
    std::signal(SIGPIPE, SIG_IGN);
    const size_t offered = 67108864 + 64 * 65536;
    std::atomic<size_t> accepted{0};
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd < 0) {
            return;
        }
        std::vector<uint8_t> block(65536);
        size_t done = 0;
        while (done < offered) {
            const ssize_t put = ::write(fd, block.data(), block.size());
            if (put <= 0) {
                break;
            }
            done += static_cast<size_t>(put);
        }
        accepted = done;
        ::close(fd);
    });
    Image image;
    bool ok = true;
    const std::string err = StderrOf([&] { ok = OrbexPng::LoadRgba(path.c_str(), image); });
    writer.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ("", err);
    EXPECT_LT(accepted.load(), offered);
}

TEST_F(PngFiles, BytesThatAreNoPngReportTheDecoderErrorAndTheirCount) {
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'p',
                                       'i', 'c', 't', 'u', 'r', 'e', '\n'};
    std::vector<uint8_t> truncated = TestPng::EncodePattern(64, 64);
    truncated.resize(truncated.size() / 2);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {{"text.png", text}, {"truncated.png", truncated}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(c.name, c.bytes);
        Image image = Stale();
        bool ok = true;
        const std::string err = StderrOf([&] { ok = OrbexPng::LoadRgba(path.c_str(), image); });
        EXPECT_FALSE(ok);
        EXPECT_TRUE(IsDecodingFailedLine(err, c.bytes.size())) << err;
        ExpectEmpty(image);
    }
}

TEST_F(PngFiles, UnopenablePathsReportTheSystemReason) {
    const std::string missing = folder_ + "/missing.png";
    Image image = Stale();
    std::string err = StderrOf([&] { EXPECT_FALSE(OrbexPng::LoadRgba(missing.c_str(), image)); });
    EXPECT_EQ(std::string("ORBEX PNG: could not open image: ") + std::strerror(ENOENT) + "\n", err);
    ExpectEmpty(image);

    image = Stale();
    err = StderrOf([&] { EXPECT_FALSE(OrbexPng::LoadRgba(nullptr, image)); });
    EXPECT_EQ(0u, err.rfind("ORBEX PNG: could not open image: ", 0)) << err;
    EXPECT_EQ('\n', err.back());
    ExpectEmpty(image);
}

TEST(PngDecode, InputsOutsideTheLimitsAreRefusedUnread) {
    const uint8_t few[16] = {};
    Image image = Stale();
    // Under AddressSanitizer a read of the oversized claim would be reported.
    const std::string err = StderrOf([&] {
        EXPECT_FALSE(OrbexPng::DecodeRgba(nullptr, 100, image));
        EXPECT_FALSE(OrbexPng::DecodeRgba(few, 0, image));
        EXPECT_FALSE(OrbexPng::DecodeRgba(few, 67108865, image));
        EXPECT_FALSE(OrbexPng::DecodeRgba(few, uint64_t{1} << 40, image));
    });
    EXPECT_EQ("", err);
    ExpectEmpty(image);
}

TEST(PngDecode, ASuccessReplacesWhatTheImageHeld) {
    const std::vector<uint8_t> png = TestPng::EncodeSolid(2, 2, 10, 20, 30, 40);
    Image image = Stale();
    ASSERT_TRUE(OrbexPng::DecodeRgba(png.data(), png.size(), image));
    EXPECT_EQ(2, image.width);
    EXPECT_EQ(2, image.height);
    ASSERT_EQ(16u, image.pixels.size());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Rgba(10, 20, 30, 40), PixelAt(image, i % 2, i / 2));
    }
}

}  // namespace
