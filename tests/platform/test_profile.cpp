// The profiler (sections per frame, durations as text and in the times log, the bar) and its
// trace file: names quoted, counters, files it must not append to left alone and not read again,
// a stop at the size limit, a failed write taken back (against "times.log": replay.trace); the
// window of frames counted under valgrind, where an off-by-one would move every count.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/countmarks.h"
#include "platform/font_fixture.h"
#include "platform/framecycle.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

// The profiler reads the time only through clock_seconds: tests hand it a script.
std::vector<double> ticks;
std::size_t next_tick = 0;
double scripted_clock() { return next_tick < ticks.size() ? ticks[next_tick++] : ticks.back(); }

// Marks each label at the given times; the time after the last label closes the frame.
void frame(const std::vector<const char*>& labels, const std::vector<double>& times) {
    ticks = times;
    next_tick = 0;
    profile_section(nullptr, 0);
    for (const char* l : labels) profile_section(l, 0);
}

std::string sections() {  // "label duration" of each section of the current slot
    std::string out;
    for (uint32_t i = 0; i < profile_ring[profile_slot].count; i++) {
        const ProfileMark& m = DynArray_at<ProfileMark>(&profile_ring[profile_slot], i);
        out += std::string(m.label) + " " + std::to_string(m.time) + ";";
    }
    return out;
}

class Profile : public testing::Test {
protected:
    void SetUp() override { clock_seconds = scripted_clock; }
    void TearDown() override {
        profile_section(nullptr, 0);
        clock_seconds = clock_calibrate;
    }
};

// A scratch folder, and a frame of one section shown by the profiler.
class Trace : public testing::Test {
protected:
    void SetUp() override { profile_section("a section", 0), profile_close_frame(0), profile_next_frame(); }
    ScratchDir scratch;
};

bool ends_as_array(const std::string& t) {
    return t.size() >= 5 && t.compare(0, 2, "[\n") == 0 && t.compare(t.size() - 3, 3, "\n]\n") == 0;
}

}  // namespace

TEST(ProfileText, ScaleRoundsUpTo1_2Or5TimesAPowerOfTenAndDurationsTakeFourUnits) {
    const double frames[][2] = {{0.016, 0.02}, {0.030, 0.05}, {0.060, 0.1}, {3.0, 5.0}, {0.0, 1.0}};
    for (const auto& f : frames) EXPECT_DOUBLE_EQ(profile_time_scale(f[0]), f[1]) << f[0];
    char out[DURATION_TEXT_SIZE];
    const std::pair<double, std::string> cases[] = {
        {2.5e-4, "250 \x02\x01\x0bs"},  // the letter mu (glyph 267), then s
        {2.5e-7, "250 ns"}, {0.0125, "12.5 ms"}, {2.0, "2 sec"}};
    for (const auto& [t, text] : cases) EXPECT_EQ((format_duration(out, t), out), text);
}

TEST_F(Profile, SameLabelTwiceIsTwoSectionsUnlessMerged) {
    frame({"adv", "col", "adv"}, {0.0, 0.25, 0.75, 1.5});
    EXPECT_DOUBLE_EQ(profile_close_frame(0), 1.5);
    EXPECT_EQ(sections(), "adv 0.250000;col 0.500000;adv 0.750000;");
    frame({"adv", "col", "adv"}, {0.0, 0.25, 0.75, 1.5});
    profile_close_frame(1);
    EXPECT_EQ(sections(), "adv 1.000000;col 0.500000;") << "in order of first appearance";
    frame({"only"}, {1.0, 1.25});
    profile_close_frame(0);
    EXPECT_EQ(sections(), "only 0.250000;") << "a single mark runs up to the close";
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
    profile_next_frame();  // a frame never shown still writes its line end
    profile_write_previous(log);
    std::rewind(log);
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, log), 21u);
    EXPECT_STREQ(text, "0.5\t0.25\t0.25\n0.125\n\n");
    std::fclose(log);
}

// The horizontal bar on a real context: each section's box starts at its
// share of the time scale, in its colour, two lines high.
class ProfileGl : public GlTest {};

TEST_F(ProfileGl, BarPlacesSectionsOnTheScale) {
    reset_fonts();
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    screen_width = GL_TEST_WIDTH;
    clock_seconds = scripted_clock;
    frame({}, {0.0, 0.008, 0.016});  // 16 ms: the width stands for 20 ms
    profile_section("", 0xFF0000);
    profile_section("", 0);  // index 1 without a colour: dim blue
    int lh = text_line_height, slot = profile_slot;
    overlay_begin();
    profile_show(100, 200, 0, 1, 1);
    overlay_end();
    clock_seconds = clock_calibrate;
    EXPECT_EQ(profile_slot, (slot + 1) % PROFILE_FRAMES);

    double K = (GL_TEST_WIDTH - (100 + lh + 5 * lh)) / 0.02;
    int second = static_cast<int>(K * 0.008 + 100), end = static_cast<int>(K * 0.016 + 100);
    auto at = [](int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y); };
    const int y = 200 + lh + lh / 2;  // lower half of the bar, beside the texts
    const struct { int x, y; unsigned rgb; } seen[] = {
        {second - 40, y, 0xFF0000}, {second + 60, y, 0x000080}, {97, y, 0}, {end + 3, y, 0},
        {second - 40, 200 + 2 * lh + 2, 0}};
    for (const auto& s : seen) EXPECT_EQ(at(s.x, s.y), s.rgb) << s.x << ", " << s.y;
    free_fonts();
}

TEST_F(Trace, QuotesNamesWritesCountersAndLeavesWhatItCannotAppendTo) {
    trace_set_process_name("zibu_replay C:\\runs\\\"x\"\t.txt");
    const TraceCounter counters[] = {{"nodes alive", 2170}, {"leaves", 7}};
    ASSERT_TRUE(trace_append_previous("t.json", counters, 2));
    trace_set_process_name("zibu");
    const std::string t = read_file("t.json");
    EXPECT_NE(t.find("{\"name\":\"zibu_replay C:\\\\runs\\\\\\\"x\\\"?.txt\"}}"), std::string::npos) << t;
    EXPECT_NE(t.find(",\n{\"name\":\"leaves\",\"ph\":\"C\",\"pid\":1,\"tid\":1,\"ts\":"), std::string::npos);
    EXPECT_NE(t.find(",\"args\":{\"value\":2170}}"), std::string::npos) << t;
    EXPECT_TRUE(ends_as_array(t));
    // Not a trace's end (cut short by hand, or another file): nothing is written, and the file is
    // not read again while it is there (an empty trace put in the last one's place stays) ...
    int n = 0;
    for (const char* text : {"[\n{\"name\":\"frame\",\"ph\":\"X\"", "not json\n", "{}\n"}) {
        const std::string name = "cut" + std::to_string(n++) + ".json";
        std::ofstream(name, std::ios::binary) << text;
        EXPECT_FALSE(trace_append_previous(name.c_str(), nullptr, 0)) << text;
        EXPECT_EQ(read_file(name), text);
    }
    std::ofstream("cut2.json", std::ios::binary) << "[\n]\n";
    EXPECT_FALSE(trace_append_previous("cut2.json", nullptr, 0));
    EXPECT_EQ(read_file("cut2.json"), "[\n]\n");
    // ... until it goes: then a new trace starts. A folder is never written.
    fs::remove("cut2.json");
    EXPECT_TRUE(trace_append_previous("cut2.json", nullptr, 0));
    fs::create_directory("folder.json");
    EXPECT_TRUE(!trace_append_previous("folder.json", nullptr, 0) && fs::is_directory("folder.json"));
}

TEST_F(Trace, StopsAtTheSizeLimitWithALastEventThatSaysSo) {
    constexpr long LIMIT = 4096;
    int frames = 0;
    while (frames < 100 && trace_append_previous("full.json", nullptr, 0, LIMIT)) frames++;
    const std::string t = read_file("full.json");
    EXPECT_TRUE(frames > 2 && frames < 100) << frames;
    EXPECT_TRUE(t.size() <= static_cast<size_t>(LIMIT) && ends_as_array(t)) << t;
    EXPECT_NE(t.find("{\"ph\":\"i\",\"s\":\"g\",\"pid\":1,"), std::string::npos) << t;
    const std::string last = "\"name\":\"trace full\"}\n]\n";
    EXPECT_EQ(t.compare(t.size() - last.size(), last.size(), last), 0) << t;
    // Full for this process, and for one that comes to it afresh, whatever its limit.
    EXPECT_FALSE(trace_append_previous("full.json", nullptr, 0, LIMIT));
    fs::copy_file("full.json", "full_copy.json");
    EXPECT_FALSE(trace_append_previous("full_copy.json", nullptr, 0, 1 << 30));
    EXPECT_TRUE(read_file("full.json") == t && read_file("full_copy.json") == t);
}

// A disk that fills part way through a frame's write, made by a file size limit: the file is as
// before, still an array; a file the write made goes again.
TEST_F(Trace, TakesBackAWriteThatFailsPartWay) {
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    const std::string before = read_file("cut.json");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    using Room = std::pair<const char*, rlim_t>;
    for (const auto& [path, room] : {Room{"cut.json", before.size() + 40}, Room{"new.json", 0}}) {
        rlimit small = saved;
        small.rlim_cur = room;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = trace_append_previous(path, nullptr, 0);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(written) << path;
    }
    signal(SIGXFSZ, handler);
    EXPECT_TRUE(read_file("cut.json") == before && !fs::exists("new.json"));
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    EXPECT_TRUE(ends_as_array(read_file("cut.json")));
}

// Recording stand-ins for the tool's side. zibu_core is a static library: with all four defined
// here, its countmarks_sdl.o (valgrind's client requests) is not linked into the tests.
static bool tool_present = false;
static std::string calls;
bool count_tool_present() { return tool_present; }
void count_tool_start() { calls += "start "; }
void count_tool_dump(const char* name) { calls += std::string(name) + " "; }
void count_tool_stop() { calls += "stop "; }

TEST(CountMarks, WindowOpensAtFirstDumpsEachSectionAndClosesAfterCountFrames) {
    const std::string rest = std::string(" ") + COUNT_REST_OF_FRAME + " ";
    const struct { const char* request; bool present; std::string expected; } cases[] = {
        {"1 2", true, "start a b" + rest + "a b" + rest + "stop "},
        {"0 1", true, "start a b" + rest + "stop "}, {"3 5", true, "start a b "},
        {"0 1", false, ""}, {nullptr, true, ""}, {"x 1", true, ""}, {"1", true, ""},
        {"-1 2", true, ""}, {"0 0", true, ""}};
    for (const auto& c : cases) {
        c.request ? setenv("ZIBU_COUNT_FRAMES", c.request, 1) : unsetenv("ZIBU_COUNT_FRAMES");
        tool_present = c.present;
        calls.clear();
        count_marks_forget();
        for (int frame = 0; frame < 4; frame++)  // two sections; either end mark closes them
            for (const char* label : {"a", "b", frame % 2 ? "" : nullptr}) count_mark(label);
        EXPECT_EQ(calls, c.expected) << (c.request ? c.request : "unset") << " " << c.present;
    }
    unsetenv("ZIBU_COUNT_FRAMES");
    tool_present = false;
    count_marks_forget();
}
