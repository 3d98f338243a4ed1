#include "background.h"
#include "png_writer.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// ---- cover fit ---------------------------------------------------------------

void ExpectRect(const SDL_FRect& got, float x, float y, float w, float h) {
    EXPECT_FLOAT_EQ(x, got.x);
    EXPECT_FLOAT_EQ(y, got.y);
    EXPECT_FLOAT_EQ(w, got.w);
    EXPECT_FLOAT_EQ(h, got.h);
}

TEST(CoverFit, FillsTheOutputAndCutsTheOverflowEquallyOnBothSides) {
    // Wider output than the picture: cut at top and bottom.
    CoverFit fit = cover_fit(720, 400, 1920, 1080);
    ExpectRect(fit.source, 0, 6.666687f, 1920, 1066.6666f);
    ExpectRect(fit.destination, 0, 0, 720, 400);

    // Taller output: cut left and right.
    fit = cover_fit(400, 800, 1920, 1080);
    ExpectRect(fit.source, 690, 0, 540, 1080);
    ExpectRect(fit.destination, 0, 0, 400, 800);

    // Same aspect: the whole picture.
    fit = cover_fit(1280, 720, 1920, 1080);
    ExpectRect(fit.source, 0, 0, 1920, 1080);
    ExpectRect(fit.destination, 0, 0, 1280, 720);
}

TEST(CoverFit, StaysInSinglePrecision) {
    // 720 / 0.72f is not 1000 in floats; the sliver it leaves is part of the
    // agreed geometry (a double-precision fit gives other numbers here).
    const CoverFit fit = cover_fit(720, 400, 1000, 1000);
    EXPECT_EQ(0.000030517578125f, fit.source.x);
    EXPECT_FLOAT_EQ(222.22223f, fit.source.y);
    EXPECT_FLOAT_EQ(999.99994f, fit.source.w);
    EXPECT_FLOAT_EQ(555.55554f, fit.source.h);
    ExpectRect(fit.destination, 0, 0, 720, 400);
}

// ---- candidates ----------------------------------------------------------------

TEST(BackgroundCandidates, EnvironmentValueFirstThenTheFourJoinsUnnormalised) {
    const fs::path base("/opt/vantorra/bin/");
    const std::vector<fs::path> joins = {
        "/opt/vantorra/bin/../gpu/assets/overlay.png", "/opt/vantorra/bin/gpu/assets/overlay.png",
        "/opt/vantorra/bin/assets/overlay.png", "/opt/vantorra/bin/../assets/overlay.png"};
    EXPECT_EQ(joins, background_candidates(nullptr, base));
    EXPECT_EQ(joins, background_candidates("", base));

    std::vector<fs::path> with_env = joins;
    with_env.insert(with_env.begin(), fs::path("art/../pic.png"));
    EXPECT_EQ(with_env, background_candidates("art/../pic.png", base));
    // Compared as text too: path equality would forgive a rewritten form.
    EXPECT_EQ("art/../pic.png", background_candidates("art/../pic.png", base)[0].string());
    EXPECT_EQ("/opt/vantorra/bin/../gpu/assets/overlay.png",
              background_candidates("x", base)[1].string());
}

// ---- search and draw on a software renderer -------------------------------------

const char* const kFallback = "Vantorra setup: PNG background not found; using plum fallback.\n";

struct Rgba8 {
    uint8_t r, g, b, a;
};

bool Near(Rgba8 got, Rgba8 want, int slack = 2) {
    const int d[] = {got.r - want.r, got.g - want.g, got.b - want.b, got.a - want.a};
    for (int v : d) {
        if (v > slack || v < -slack) {
            return false;
        }
    }
    return true;
}

std::string Str(Rgba8 c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," +
           std::to_string(c.a) + ")";
}

class Background : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::path(root_) / "game" / "bin";
        fs::create_directories(base_);
        unsetenv("ORBEX_OVERLAY_BACKGROUND");
        Target(64, 64);
    }

    void TearDown() override {
        if (texture_) {
            SDL_DestroyTexture(texture_);
        }
        DropTarget();
        unsetenv("ORBEX_OVERLAY_BACKGROUND");
    }

    // A software renderer drawing into a surface of the given size, no display needed.
    void Target(int w, int h) {
        DropTarget();
        surface_ = SDL_CreateSurface(w, h, SDL_PIXELFORMAT_RGBA32);
        ASSERT_NE(nullptr, surface_) << SDL_GetError();
        renderer_ = SDL_CreateSoftwareRenderer(surface_);
        ASSERT_NE(nullptr, renderer_) << SDL_GetError();
    }

    void DropTarget() {
        if (texture_) {
            SDL_DestroyTexture(texture_);
            texture_ = nullptr;
        }
        if (renderer_) {
            SDL_DestroyRenderer(renderer_);
            renderer_ = nullptr;
        }
        if (surface_) {
            SDL_DestroySurface(surface_);
            surface_ = nullptr;
        }
    }

    // Writes a one-colour PNG at a path under the test folder; returns the full path.
    fs::path Picture(const std::string& relative, Rgba8 c, int w = 8, int h = 8) {
        const fs::path path = fs::path(root_) / relative;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(
            TestPng::WriteFile(path.string(), TestPng::EncodeSolid(w, h, c.r, c.g, c.b, c.a)));
        return path;
    }

    // Runs the search and returns what it printed.
    std::string Search() {
        ::testing::internal::CaptureStderr();
        texture_ = load_background(renderer_, base_);
        return ::testing::internal::GetCapturedStderr();
    }

    // Clears to the plum colour, draws the background and reads one pixel.
    Rgba8 DrawnAt(int x, int y) {
        const int w = surface_->w, h = surface_->h;
        SDL_SetRenderDrawColor(renderer_, 33, 15, 31, 255);
        SDL_RenderClear(renderer_);
        draw_background(renderer_, w, h, texture_);
        SDL_FlushRenderer(renderer_);
        Rgba8 c{};
        SDL_ReadSurfacePixel(surface_, x, y, &c.r, &c.g, &c.b, &c.a);
        return c;
    }

    // The colour of the loaded texture, drawn over the whole target.
    Rgba8 TextureColour() { return DrawnAt(surface_->w / 2, surface_->h / 2); }

    TempFolder temp_{"orbex-png"};
    std::string root_ = temp_.str();
    fs::path base_;
    SDL_Surface* surface_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
};

const Rgba8 kRed{200, 10, 10, 255}, kGreen{10, 200, 10, 255}, kBlue{10, 10, 200, 255},
    kGold{220, 180, 20, 255}, kTeal{20, 160, 170, 255};

TEST_F(Background, TheFirstUsableCandidateInOrderIsTakenAndNamed) {
    // Pictures at candidates i..4 (each its own colour): candidate i wins.
    const char* const places[] = {"game/gpu/assets/overlay.png", "game/bin/gpu/assets/overlay.png",
                                  "game/bin/assets/overlay.png", "game/assets/overlay.png"};
    const char* const printed[] = {"../gpu/assets/overlay.png", "gpu/assets/overlay.png",
                                   "assets/overlay.png", "../assets/overlay.png"};
    const Rgba8 colours[] = {kRed, kGreen, kBlue, kGold};
    for (int first = 3; first >= 0; --first) {
        SCOPED_TRACE(places[first]);
        Picture(places[first], colours[first]);
        if (texture_) {
            SDL_DestroyTexture(texture_);
        }
        EXPECT_EQ("Vantorra setup art: " + (base_ / printed[first]).string() + "\n", Search());
        ASSERT_NE(nullptr, texture_);
        EXPECT_TRUE(Near(colours[first], TextureColour())) << Str(TextureColour());
    }
}

TEST_F(Background, TheEnvironmentPictureComesBeforeTheFolders) {
    const fs::path env_picture = Picture("elsewhere/art.png", kTeal);
    Picture("game/gpu/assets/overlay.png", kRed);
    setenv("ORBEX_OVERLAY_BACKGROUND", env_picture.c_str(), 1);
    EXPECT_EQ("Vantorra setup art: " + env_picture.string() + "\n", Search());
    EXPECT_TRUE(Near(kTeal, TextureColour())) << Str(TextureColour());
}

TEST_F(Background, ARelativeEnvironmentValueMeansTheCurrentFolder) {
    // The same relative name under base_folder would be a different picture.
    Picture("cwd/art.png", kGold);
    Picture("game/bin/art.png", kRed);
    const fs::path before = fs::current_path();
    fs::current_path(fs::path(root_) / "cwd");
    setenv("ORBEX_OVERLAY_BACKGROUND", "art.png", 1);
    const std::string err = Search();
    fs::current_path(before);
    EXPECT_EQ("Vantorra setup art: art.png\n", err);
    EXPECT_TRUE(Near(kGold, TextureColour())) << Str(TextureColour());
}

TEST_F(Background, UnusableCandidatesArePassedOverQuietlyExceptForTheLoadersOwnLine) {
    // A missing environment picture, a folder named overlay.png, then a file
    // that is no PNG: only that last one speaks, then a symbolic link serves.
    setenv("ORBEX_OVERLAY_BACKGROUND", (fs::path(root_) / "missing.png").c_str(), 1);
    fs::create_directories(fs::path(root_) / "game/gpu/assets/overlay.png");
    const fs::path junk = fs::path(root_) / "game/bin/gpu/assets/overlay.png";
    fs::create_directories(junk.parent_path());
    ASSERT_TRUE(TestPng::WriteFile(junk.string(), {'j', 'u', 'n', 'k'}));
    const fs::path real = Picture("art/real.png", kBlue);
    fs::create_directories(base_ / "assets");
    fs::create_symlink(real, base_ / "assets/overlay.png");

    const std::string err = Search();
    const std::string tail =
        "Vantorra setup art: " + (base_ / "assets/overlay.png").string() + "\n";
    ASSERT_NE(std::string::npos, err.find(tail)) << err;
    EXPECT_EQ(err.size() - tail.size(), err.find(tail)) << err;
    EXPECT_NE(std::string::npos, err.find("ORBEX PNG: decoding failed (FFmpeg error ")) << err;
    EXPECT_NE(std::string::npos, err.find(", 4 input bytes)\n")) << err;
    EXPECT_EQ(std::string::npos, err.find("could not open")) << err;
    EXPECT_TRUE(Near(kBlue, TextureColour())) << Str(TextureColour());
}

TEST_F(Background, WithoutAnyPictureOneNoticeAndNoTexture) {
    setenv("ORBEX_OVERLAY_BACKGROUND", "", 1);
    fs::create_directories(base_ / "assets/overlay.png");
    EXPECT_EQ(kFallback, Search());
    EXPECT_EQ(nullptr, texture_);
    // Nothing is drawn: the plum clear colour stays.
    EXPECT_TRUE(Near(Rgba8{33, 15, 31, 255}, DrawnAt(5, 5)));
}

TEST_F(Background, TheTextureKeepsThePicturesSizeBytesAndBlending) {
    // An odd size checks the row pitch; the pattern checks the byte order.
    const fs::path path = base_ / "assets/overlay.png";
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(TestPng::WriteFile(path.string(), TestPng::EncodePattern(1023, 767)));
    Search();
    ASSERT_NE(nullptr, texture_);
    float w = 0, h = 0;
    ASSERT_TRUE(SDL_GetTextureSize(texture_, &w, &h));
    EXPECT_EQ(1023.0f, w);
    EXPECT_EQ(767.0f, h);
    const SDL_PropertiesID props = SDL_GetTextureProperties(texture_);
    EXPECT_EQ(SDL_PIXELFORMAT_ABGR8888,
              SDL_GetNumberProperty(props, SDL_PROP_TEXTURE_FORMAT_NUMBER, 0));
    EXPECT_EQ(SDL_TEXTUREACCESS_STATIC,
              SDL_GetNumberProperty(props, SDL_PROP_TEXTURE_ACCESS_NUMBER, -1));
    SDL_BlendMode blend = SDL_BLENDMODE_NONE;
    ASSERT_TRUE(SDL_GetTextureBlendMode(texture_, &blend));
    EXPECT_EQ(SDL_BLENDMODE_BLEND, blend);

    // Drawn at its own size, the picture comes back pixel for pixel.
    Target(1023, 767);
    Search();
    ASSERT_NE(nullptr, texture_);
    const int points[][2] = {{0, 0}, {1022, 0}, {0, 766}, {1022, 766}, {511, 383}, {300, 700}};
    for (const auto& p : points) {
        const Rgba8 want{static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]),
                         static_cast<uint8_t>(p[0] ^ p[1]), 255};
        const Rgba8 got = DrawnAt(p[0], p[1]);
        EXPECT_TRUE(Near(want, got, 0)) << p[0] << "," << p[1] << " " << Str(got);
    }
}

// Three bands across the long side of a picture; the output shows the middle
// part only, whichever way it is cut.
TEST_F(Background, TheDrawCoversTheOutputWithTheMiddleOfThePicture) {
    const auto bands = [&](int w, int h, bool across) {
        std::vector<uint8_t> rows(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int band = across ? x * 3 / w : y * 3 / h;
                const Rgba8 c = band == 0 ? kRed : band == 1 ? kGreen : kBlue;
                uint8_t* p = &rows[(static_cast<size_t>(y) * static_cast<size_t>(w) +
                                    static_cast<size_t>(x)) *
                                   4];
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
                p[3] = c.a;
            }
        }
        return TestPng::Encode(w, h, AV_PIX_FMT_RGBA, rows);
    };
    const fs::path path = base_ / "assets/overlay.png";
    fs::create_directories(path.parent_path());

    // A wide picture in a square output: only the middle band, at any edge.
    ASSERT_TRUE(TestPng::WriteFile(path.string(), bands(300, 100, true)));
    Target(90, 90);
    Search();
    for (const auto& p : {std::pair{2, 2}, std::pair{87, 2}, std::pair{2, 87}, std::pair{87, 87}}) {
        EXPECT_TRUE(Near(kGreen, DrawnAt(p.first, p.second), 8)) << p.first << "," << p.second;
    }

    // A tall picture in a wide output, enlarged: the middle band again.
    ASSERT_TRUE(TestPng::WriteFile(path.string(), bands(60, 180, false)));
    Target(200, 50);
    Search();
    for (const auto& p :
         {std::pair{2, 2}, std::pair{197, 2}, std::pair{2, 47}, std::pair{197, 47}}) {
        EXPECT_TRUE(Near(kGreen, DrawnAt(p.first, p.second), 8)) << p.first << "," << p.second;
    }

    // A picture of the output's shape: all three bands, each where it belongs.
    ASSERT_TRUE(TestPng::WriteFile(path.string(), bands(300, 100, true)));
    Target(150, 50);
    Search();
    EXPECT_TRUE(Near(kRed, DrawnAt(10, 25), 8));
    EXPECT_TRUE(Near(kGreen, DrawnAt(75, 25), 8));
    EXPECT_TRUE(Near(kBlue, DrawnAt(140, 25), 8));
}

}  // namespace
