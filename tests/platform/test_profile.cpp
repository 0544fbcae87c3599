#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/framecycle.h"
#include "platform/profile.h"

namespace {

// The profiler reads the time only through clock_seconds: tests hand it a script.
std::vector<double> ticks;
std::size_t next_tick = 0;
double scripted_clock() { return next_tick < ticks.size() ? ticks[next_tick++] : ticks.back(); }

struct Section {
    std::string label;
    double duration;
    bool operator==(const Section&) const = default;
};

class Profile : public testing::Test {
protected:
    void SetUp() override {
        saved_clock = clock_seconds;
        clock_seconds = scripted_clock;
        profile_section(nullptr, 0);
    }
    void TearDown() override {
        profile_section(nullptr, 0);
        clock_seconds = saved_clock;
    }
    // Marks each label at the given times; the last time closes the frame.
    void frame(const std::vector<const char*>& labels, const std::vector<double>& times) {
        ticks = times;
        next_tick = 0;
        for (const char* l : labels) profile_section(l, 0x102030);
    }
    static std::vector<Section> sections() {
        std::vector<Section> out;
        const DynArray* slot = &profile_ring[profile_slot];
        for (uint32_t i = 0; i < slot->count; i++) {
            const ProfileMark& m = DynArray_at<ProfileMark>(slot, i);
            out.push_back({m.label, m.time});
        }
        return out;
    }
    double (*saved_clock)() = nullptr;
};

std::string read_all(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    return text;
}

}  // namespace

TEST(ProfileScale, RoundsTheFrameUpTo1_2Or5TimesAPowerOfTen) {
    EXPECT_DOUBLE_EQ(profile_time_scale(0.016), 0.02);
    EXPECT_DOUBLE_EQ(profile_time_scale(0.030), 0.05);
    EXPECT_DOUBLE_EQ(profile_time_scale(0.060), 0.1);
    EXPECT_DOUBLE_EQ(profile_time_scale(0.0004), 0.0005);
    EXPECT_DOUBLE_EQ(profile_time_scale(3.0), 5.0);
    EXPECT_DOUBLE_EQ(profile_time_scale(0.0), 1.0) << "a frame without length keeps a finite scale";
}

TEST(ProfileText, BarColoursCycleThroughSevenInTwoLevels) {
    EXPECT_EQ(profile_bar_colour(0x123456, 3), 0x123456u);
    const uint32_t expected[] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000,
                                 0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0};
    for (uint32_t i = 0; i < 15; i++) EXPECT_EQ(profile_bar_colour(0, i), expected[i]) << "index " << i;
}

TEST_F(Profile, SameLabelTwiceIsTwoSectionsUnlessMerged) {
    frame({"advance", "collide", "advance"}, {0.0, 0.001, 0.003, 0.006});
    EXPECT_NEAR(profile_close_frame(0), 0.006, 1e-15);
    std::vector<Section> s = sections();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].label, "advance");
    EXPECT_EQ(s[2].label, "advance");
    EXPECT_NEAR(s[0].duration, 0.001, 1e-12);
    EXPECT_NEAR(s[1].duration, 0.002, 1e-12);
    EXPECT_NEAR(s[2].duration, 0.003, 1e-12);

    profile_section(nullptr, 0);
    frame({"advance", "collide", "advance"}, {0.0, 0.001, 0.003, 0.006});
    profile_close_frame(1);
    s = sections();
    ASSERT_EQ(s.size(), 2u) << "merged in order of first appearance";
    EXPECT_EQ(s[0].label, "advance");
    EXPECT_NEAR(s[0].duration, 0.004, 1e-12);
    EXPECT_EQ(s[1].label, "collide");
}

TEST_F(Profile, SingleMarkRunsToTheClose) {
    frame({"only"}, {1.0, 1.25});
    EXPECT_DOUBLE_EQ(profile_close_frame(0), 0.25);
    EXPECT_EQ(sections(), (std::vector<Section>{{"only", 0.25}}));
}

TEST_F(Profile, OneLineOfTabSeparatedDurationsPerFrame) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    frame({"a", "b", "c"}, {0.0, 0.5, 0.75, 1.0});
    profile_close_frame(0);
    profile_next_frame();
    EXPECT_EQ(profile_ring[profile_slot].count, 0u) << "the new frame starts empty";
    profile_write_previous(log);
    frame({"a"}, {2.0, 2.125});
    profile_close_frame(0);
    profile_next_frame();
    profile_write_previous(log);
    profile_next_frame();  // a frame never shown leaves nothing to write but its line end
    profile_write_previous(log);
    EXPECT_EQ(read_all(log), "0.5\t0.25\t0.25\n0.125\n\n");
    std::fclose(log);
}
