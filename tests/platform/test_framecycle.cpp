// The frame on a real OpenGL context: projection, overlay mode, the end of a frame and the
// primitives; the mipmap filter and the upload of a whole chain; and the files the game writes
// into the working directory: screenshots (the BMP, its number, the converter), the error log.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/screenshot.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

class FrameCycle : public GlTest {};

void projection(GLdouble p[16]) { glGetDoublev(GL_PROJECTION_MATRIX, p); }

TEST_F(FrameCycle, ProjectionHoldsTheVerticalAngleOfFourByThreeOnWideScreensAndAHeightFloor) {
    GLdouble p[16];
    resize(1920, 1080);
    projection(p);
    EXPECT_NEAR(1.0 / p[0], 1.3333, 1e-4);  // tx
    EXPECT_NEAR(1.0 / p[5], 0.75, 1e-6);    // ty
    EXPECT_NEAR(pixel_angle(), 2.0 / (0.75 * 1920), 1e-6);

    resize(1280, 1024);  // narrower than 4:3: the horizontal angle holds
    projection(p);
    EXPECT_NEAR(1.0 / p[0], 1.0, 1e-6);
    EXPECT_NEAR(1.0 / p[5], 0.8, 1e-6);
    GLint mode, vp[4];
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    resize(800, 0);  // the height floor
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_TRUE(screen_width == 800 && screen_height == 1 && vp[3] == 1);
    projection(p);
    for (double v : p) EXPECT_TRUE(std::isfinite(v));
}

TEST_F(FrameCycle, OverlayMapsPixelZeroToTheTopLeftOfTheWindowEvenInASubViewport) {
    const std::string before = gl_test_state();
    overlay_begin();
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_NEAR(units_per_pixel(), 1.0, 1e-6);  // GL keeps matrices in floats
    fill_box(0, 0, 1, 1, 0xff0000);
    fill_box(GL_TEST_WIDTH - 1, GL_TEST_HEIGHT - 1, 1, 1, 0x0000ff);
    overlay_end();
    EXPECT_TRUE(gl_test_pixel(0, GL_TEST_HEIGHT - 1) == 0xff0000u && gl_test_pixel(0, 0) == 0u);
    EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH - 1, 0), 0x0000ffu);
    EXPECT_EQ(gl_test_state(), before) << "the depth test and the perspective are back";

    // A viewport 200 x 100 whose bottom-left is window pixel (100, 50) from the bottom.
    glViewport(100, 50, 200, 100);
    overlay_begin();
    const double top = GL_TEST_HEIGHT - 150;  // its top edge, counted from the window's top
    fill_box(100, top, 1, 1, 0xffffff);
    fill_box(299, top + 99, 1, 1, 0xff00ff);
    overlay_end();
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    EXPECT_EQ(gl_test_pixel(100, 149), 0xffffffu);
    EXPECT_EQ(gl_test_pixel(299, 50), 0xff00ffu);
}

TEST_F(FrameCycle, FirstEndFrameSetsTheClearColourThenOnlyChanges) {
    last_clear_colour = CLEAR_COLOUR_UNSET;
    glClearColor(1, 0, 0, 0);
    end_frame(0);
    GLfloat c[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    EXPECT_TRUE(last_clear_colour == 0u && gl_test_pixel(5, 5) == 0u && c[0] == 0.0f);
    glClearColor(1, 0, 0, 0);  // an unchanged colour is not handed over again
    end_frame(0);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    EXPECT_EQ(c[0], 1.0f);

    end_frame(0x3366ff);
    EXPECT_TRUE(last_clear_colour == 0x3366ffu && gl_test_pixel(5, 5) == 0x3366ffu);
    end_frame(0);
}

TEST_F(FrameCycle, DrawLineLeavesLightingAsItFoundIt) {
    overlay_begin();
    for (bool lit : {true, false}) {
        lit ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
        const std::string before = gl_test_state();
        draw_line(0, 0, 10, 10, 0xffffff);
        EXPECT_EQ(gl_test_state(), before) << lit;
    }
    overlay_end();
}

// Rounding to nearest, the padded stride of every level, and odd or one-texel sides repeating
// their edge texels.
TEST(MipmapFilter, RoundsHonoursThePaddingAndRepeatsOddEdges) {
    unsigned char p[16] = {0, 0, 10, 11, 1, 1, 12, 13, 200, 201, 255, 255, 202, 203, 255, 254};
    mipmap_halve(1, 4, 4, p);  // 4 x 4, one component: level 1 keeps the stride of 4
    EXPECT_TRUE(p[0] == 1 && p[1] == 12 && p[4] == 202 && p[5] == 255);
    unsigned char r[4] = {10, 20, 31, 0};
    mipmap_halve(1, 3, 1, r);
    EXPECT_TRUE(r[0] == 15 && r[1] == 31);
    unsigned char q[12] = {0, 100, 0, 0, 4, 100, 0, 0, 9, 50, 0, 0};
    mipmap_halve(2, 1, 3, q);  // 1 x 3 in two components
    EXPECT_TRUE(q[0] == 2 && q[1] == 100 && q[4] == 9 && q[5] == 50);
}

class TextureUpload : public GlTest {};

TEST_F(TextureUpload, Chain256GivesLevelsOneToEight) {
    const int size = 256;
    std::vector<unsigned char> pixels(size * size * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 13 + i / 1024);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    upload_mipmapped(GL_TEXTURE_2D, 4, size, size, pixels.data());
    for (int level = 0; level <= 9; ++level) {  // no level 9
        GLint w = -1, h = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        EXPECT_TRUE(w == (size >> level) && h == (size >> level)) << level;
    }
    // The buffer now holds the 1 x 1 level, and that is what was uploaded as level 8.
    unsigned char last[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 8, GL_RGBA, GL_UNSIGNED_BYTE, last);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(last[k], pixels[k]);
    glDeleteTextures(1, &tex);
}

uint32_t u32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

class Screenshot : public GlTest {};

TEST_F(Screenshot, FileHoldsTheHeaderAndTheKnownPictureOrIsSkipped) {
    ScratchDir dir;
    // Red at the top-left pixel, green at the bottom-right, blue box from (10, 20) to (14, 22).
    overlay_begin();
    fill_box(0, 0, 1, 1, 0xff0000);
    fill_box(GL_TEST_WIDTH - 1, GL_TEST_HEIGHT - 1, 1, 1, 0x00ff00);
    fill_box(10, 20, 5, 3, 0x0000ff);
    overlay_end();
    save_screen_bmp("shot.bmp", 0);

    const std::string shot = read_file("shot.bmp");
    const std::vector<unsigned char> b(shot.begin(), shot.end());
    const uint32_t row = 4100, h = GL_TEST_HEIGHT;
    ASSERT_EQ(b.size(), 54 + row * h);
    EXPECT_EQ(shot.substr(0, 2), "BM");
    // Offset and expected value of every 32-bit field; at 26 one plane and 24 bits a pixel.
    const uint32_t fields[][2] = {{2, 54 + row * h}, {6, 0}, {10, 54}, {14, 40},
                                  {18, uint32_t(GL_TEST_WIDTH)}, {22, h}, {26, 1 | 24 << 16}, {30, 0},
                                  {34, row * h}, {38, 2834}, {42, 2834}, {46, 0}, {50, 0}};
    for (const auto& f : fields) EXPECT_EQ(u32(b, f[0]), f[1]) << "offset " << f[0];

    // Rows bottom first, pixels blue-green-red.
    auto pixel = [&](int x, int y_from_top) {
        size_t at = 54 + size_t(h - 1 - y_from_top) * row + size_t(x) * 3;
        return uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 1]) << 8 | b[at];
    };
    const struct { int x, y; uint32_t rgb; } seen[] = {
        {0, 0, 0xff0000}, {GL_TEST_WIDTH - 1, GL_TEST_HEIGHT - 1, 0x00ff00}, {10, 20, 0x0000ff},
        {14, 22, 0x0000ff}, {15, 22, 0}, {1, 0, 0}};
    for (const auto& s : seen) EXPECT_EQ(pixel(s.x, s.y), s.rgb) << s.x << ", " << s.y;

    save_screen_bmp("no_such_folder/shot.bmp", 1);  // a file that cannot be opened is skipped
    EXPECT_FALSE(std::filesystem::exists("no_such_folder"));
}

double pinned_clock = 0.0;

// Screenshots taken within one 0.3-second step of the clock share a number; one whose
// number is taken gets the next free one (past 99999 comes 0), and no earlier file changes.
// Long past the start of the system's clock the step count folds to five digits unharmed.
TEST_F(Screenshot, TakenNumberGoesToTheNextFreeOneLeavingEarlierFilesAlone) {
    const struct { double clock; std::vector<std::string> existing; const char* expected; } cases[] = {
        {1234.6, {}, "screenshot04115.bmp"},
        {1234.6, {"screenshot04115.bmp", "screenshot04116.bmp"}, "screenshot04117.bmp"},
        {29999.8, {"screenshot99999.bmp"}, "screenshot00000.bmp"},
        {1e9, {}, "screenshot33333.bmp"},
    };
    double (*saved_clock)() = clock_seconds;
    clock_seconds = [] { return pinned_clock; };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& name : c.existing) std::ofstream(name) << "earlier " << name;
        pinned_clock = c.clock;
        screenshot();
        for (const auto& name : c.existing) EXPECT_EQ(read_file(name), "earlier " + name);
        EXPECT_EQ(read_file(c.expected).size(), 54u + 4100u * GL_TEST_HEIGHT) << c.expected;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}),
                  static_cast<long>(c.existing.size() + 1));
    }
    clock_seconds = saved_clock;
}

// A stand-in converter that records its arguments; it runs only when it is on the path.
TEST(Converter, RunsWithItsArgumentsOnlyWhenOnThePath) {
    ScratchDir dir;
    const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    std::filesystem::create_directory("bin");
    std::ofstream("bin/bmp2png") << "#!/bin/sh\necho \"$@\" > converted.txt\n";
    // Only a file that cannot be run: no shell may be started, so nothing complains either.
    std::filesystem::permissions("bin/bmp2png", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    setenv("PATH", (dir.path() / "bin").string().c_str(), 1);
    ::testing::internal::CaptureStderr();
    run_converter("screenshot01234.bmp");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(std::filesystem::exists("converted.txt"));

    std::filesystem::permissions("bin/bmp2png", std::filesystem::perms::owner_all);
    setenv("PATH", ((dir.path() / "bin").string() + ":" + saved_path).c_str(), 1);
    run_converter("screenshot01234.bmp");
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(read_file("converted.txt"), "-9 -E screenshot01234.bmp\n");
}

// The messages of the log's lines, each checked to be "yyyy-MMM-dd HH:mm:ss <message>"
// with the month as the locale names it.
std::vector<std::string> logged() {
    std::ifstream in("graphics_error.log");
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        std::string shape = line;
        for (char& c : shape) c = std::isdigit(static_cast<unsigned char>(c)) ? 'd' : c;
        const size_t month_end = shape.find('-', 5);
        const bool stamped = shape.rfind("dddd-", 0) == 0 && month_end != std::string::npos &&
                             month_end > 5 && shape.find(' ', 5) > month_end &&
                             shape.compare(month_end, 13, "-dd dd:dd:dd ") == 0;
        messages.push_back(stamped ? line.substr(month_end + 13) : "unstamped: " + line);
    }
    return messages;
}

TEST(ErrorLog, EachCallAppendsOneCompleteLineAtOnce) {
    ScratchDir dir;
    error_log("first");
    EXPECT_EQ(logged(), std::vector<std::string>{"first"});
    error_log("second, with 100% of a %s in it");
    EXPECT_EQ(logged(), (std::vector<std::string>{"first", "second, with 100% of a %s in it"}));
}

}  // namespace
