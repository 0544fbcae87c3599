#include <gtest/gtest.h>

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

// The log takes the raw frame time, not the clamped one, then the frame's sections.
TEST_F(Overlays, TimesLogTakesTheRawFrameTime) {
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
