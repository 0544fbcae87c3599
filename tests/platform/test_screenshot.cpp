// The files the game writes into the working directory: screenshots (the BMP, its number, the
// converter) and the graphics error log.
#include <gtest/gtest.h>

#include <cctype>
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
#include "platform/window.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

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
