#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/overlays.h"
#include "platform/font_fixture.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

class Overlays : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        reset_fonts();
        font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
        profile_section(nullptr, 0);
    }
    void TearDown() override {
        profile_section(nullptr, 0);
        frame_time = 0;
        while (font_registry.data && font_registry.count > 0)
            font_free(static_cast<Font**>(font_registry.data)[0]);
        reset_fonts();
    }
    // One frame with the diagnostics on: its sections, then the overlay.
    static void frame_with_diagnostics(int sections, double raw) {
        static const char* labels[] = {"one", "two", "three"};
        for (int i = 0; i < sections; i++) profile_section(labels[i], 0);
        diagnostics_overlay(raw);
    }
};

}  // namespace

// The log takes the raw frame time, not the clamped one; a log that cannot be opened drops
// the line and the frames go on.
TEST_F(Overlays, TimesLogTakesTheRawTimeAndAnUnopenableLogIsSkipped) {
    {
        ScratchDir dir;
        frame_time = FRAME_TIME_MAX;
        frame_with_diagnostics(3, 0.25);
        frame_with_diagnostics(1, 0.5);
        std::ifstream in(times_log_name);
        std::vector<std::vector<double>> lines;
        for (std::string line; std::getline(in, line);) {
            std::istringstream cells(line);
            lines.emplace_back();
            for (std::string f; std::getline(cells, f, '\t');) lines.back().push_back(std::stod(f));
        }
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].size(), 4u);
        EXPECT_EQ(lines[1].size(), 2u);
        EXPECT_EQ(lines[0][0], 0.25);
        EXPECT_EQ(lines[1][0], 0.5);
    }
    ScratchDir dir;
    std::filesystem::create_directory(times_log_name);
    const int slot = profile_slot;
    frame_with_diagnostics(2, 0.02);
    frame_with_diagnostics(2, 0.02);
    EXPECT_EQ(profile_slot, (slot + 2) % PROFILE_FRAMES) << "both frames were shown";
    EXPECT_TRUE(std::filesystem::is_empty(times_log_name));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator{}), 1)
        << "nothing else was written";
}
