// Scripts of scripted runs: what the parser accepts and rejects, and how a script played as the
// event source reaches the input state through the shared pump.
#include "platform/script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/framecycle.h"
#include "platform/window.h"

namespace {

struct Parsed {
    Script script{};
    char error[SCRIPT_ERROR_SIZE] = {};
    int line = 0;
    explicit Parsed(const std::string& text) {
        line = script_parse(text.data(), text.size(), &script, error);
    }
    ~Parsed() { script_free(&script); }
    const ScriptEvent& at(uint32_t i) const { return DynArray_at<ScriptEvent>(&script.events, i); }
};

TEST(ScriptParse, EveryVerbWithItsArguments) {
    Parsed p(
        "# a comment line, then a blank one\n"
        "\n"
        "0 size 320 200\n"
        "0 down W   # trailing comment\n"
        "0\tdown ctrl\r\n"
        "3 up pagedown\n"
        "3 mouse -12 +7\n"
        "4 button middle down\n"
        "4 button right up\n"
        "5 wheel -1\n"
        "6 step 0.02\n"
        "6 step 1/30\n"
        "7 shot volley-1.b_2\n"
        "9 quit\n"
        "9 down esc\n");
    ASSERT_EQ(p.line, 0) << p.error;
    EXPECT_EQ(p.script.width, 320);
    EXPECT_EQ(p.script.height, 200);
    EXPECT_EQ(p.script.last_frame, 9u);
    ASSERT_EQ(p.script.events.count, 12u);
    EXPECT_EQ(p.at(0).a, 'W');
    EXPECT_EQ(p.at(1).a, KEY_CONTROL);
    EXPECT_EQ(p.at(1).line, 5);
    EXPECT_EQ(p.at(2).verb, ScriptVerb::up);
    EXPECT_EQ(p.at(2).a, 0x22);
    EXPECT_EQ(p.at(3).a, -12);
    EXPECT_EQ(p.at(3).b, 7);
    EXPECT_EQ(p.at(4).a, static_cast<int32_t>(MOUSE_MIDDLE));
    EXPECT_EQ(p.at(4).b, 1);
    EXPECT_EQ(p.at(5).b, 0);
    EXPECT_EQ(p.at(6).a, -1);
    // One division of exact integers: the same double on every C runtime.
    EXPECT_EQ(p.at(7).seconds, 2.0 / 100.0);
    EXPECT_EQ(p.at(8).seconds, 1.0 / 30.0);
    EXPECT_STREQ(p.at(9).name, "volley-1.b_2");
    EXPECT_EQ(p.at(10).verb, ScriptVerb::quit);
    EXPECT_EQ(p.at(11).frame, 9u);
}

TEST(ScriptParse, DefaultsAndTheEndOfAScriptWithoutQuit) {
    Parsed empty("");
    ASSERT_EQ(empty.line, 0);
    EXPECT_EQ(empty.script.width, SCRIPT_DEFAULT_WIDTH);
    EXPECT_EQ(empty.script.height, SCRIPT_DEFAULT_HEIGHT);
    EXPECT_EQ(empty.script.last_frame, 0u);
    Parsed last("5 down a\n120 up a");  // no newline at the end
    ASSERT_EQ(last.line, 0) << last.error;
    EXPECT_EQ(last.script.last_frame, 120u);
}

TEST(ScriptParse, BadLinesAreNamedByTheirNumber) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {
        {"0 down w\n\n# fine\nten down w\n", 4, "line 4: \"ten\" is not a frame number"},
        {"-1 quit\n", 1, "line 1: \"-1\" is not a frame number"},
        {"7\n", 1, "line 1: a verb must follow the frame number"},
        {"0 jump\n", 1, "line 1: unknown verb \"jump\""},
        {"0 down w\n1 down shft\n", 2, "line 2: unknown key \"shft\""},
        {"0 up\n", 1, "line 1: expected \"up KEY\""},
        {"5 down w\n4 up w\n", 2, "line 2: frame 4 comes after frame 5"},
        {"1 quit\n2 down w\n", 2, "line 2: frame 2 comes after the quit of frame 1"},
        {"0 mouse 3\n", 1, "line 1: expected \"mouse DX DY\""},
        {"0 mouse 3 4 5\n", 1, "line 1: expected \"mouse DX DY\""},
        {"0 mouse 3 x\n", 1, "line 1: expected \"mouse DX DY\""},
        {"0 button left sideways\n", 1, "line 1: expected \"button left|right|middle down|up\""},
        {"0 wheel 0\n", 1, "line 1: expected \"wheel +1|-1\""},
        {"0 shot ../escape\n", 1, "line 1: expected \"shot NAME (letters, digits, _ - .)\""},
        {"0 shot .hidden\n", 1, "line 1: expected \"shot NAME (letters, digits, _ - .)\""},
        {"0 step 0\n", 1, "line 1: expected \"step SECONDS (above 0, at most 10)\""},
        {"0 step 1/0\n", 1, "line 1: expected \"step SECONDS (above 0, at most 10)\""},
        {"0 step 11\n", 1, "line 1: expected \"step SECONDS (above 0, at most 10)\""},
        {"0 step 1e-3\n", 1, "line 1: expected \"step SECONDS (above 0, at most 10)\""},
        {"0 quit now\n", 1, "line 1: expected \"quit\""},
        {"3 size 640 360\n", 1, "line 1: the size is set once, at frame 0"},
        {"0 size 640 360\n0 size 320 200\n", 2, "line 2: the size is set once, at frame 0"},
        {"0 size 0 360\n", 1, "line 1: expected \"size W H\" (1 to 8192 pixels)"},
        {"99999999999 quit\n", 1, "line 1: \"99999999999\" is not a frame number"},
    };
    for (const Case& c : cases) {
        Parsed p(c.text);
        EXPECT_EQ(p.line, c.line) << c.text;
        EXPECT_STREQ(p.error, c.message) << c.text;
        EXPECT_EQ(p.script.events.count, 0u) << c.text;
    }
}

TEST(ScriptKeys, NamesAnyCaseLettersAndDigits) {
    EXPECT_EQ(script_key_code("q", 1), 'Q');
    EXPECT_EQ(script_key_code("Q", 1), 'Q');
    EXPECT_EQ(script_key_code("3", 1), '3');
    EXPECT_EQ(script_key_code("Space", 5), KEY_SPACE);
    EXPECT_EQ(script_key_code("ESC", 3), KEY_ESCAPE);
    EXPECT_EQ(script_key_code("up", 2), 0x26);
    EXPECT_EQ(script_key_code("upx", 2), 0x26);  // the length given counts
    EXPECT_EQ(script_key_code("-", 1), 0);
    EXPECT_EQ(script_key_code("", 0), 0);
}

// A script played through graphics_pump, as main_loop pumps: once at the end of start-up
// (frame 0's input), then after every frame.
class ScriptPlay : public ::testing::Test {
protected:
    void SetUp() override {
        input_reset();
        mouse_buttons = 0;
        mouse_latch = 1;
        alt_tab_minimised = 0;
    }
    void TearDown() override {
        event_source_use(&os_events);
        input_reset();
        mouse_buttons = 0;
    }
};

TEST_F(ScriptPlay, EventsReachTheFrameTheyNameThroughTheSharedRules) {
    Parsed p(
        "0 down w\n"
        "0 button left down\n"  // the start-up move has released the latch: counts at once
        "1 up w\n"
        "1 down ctrl\n"
        "2 mouse 3 -4\n"
        "2 mouse 1 1\n"
        "2 wheel -1\n"
        "3 step 0.5\n"
        "3 down s\n"
        "3 up s\n"  // down and up within one frame: never seen
        "3 button left up\n"
        "3 quit\n");
    ASSERT_EQ(p.line, 0) << p.error;
    script_play(&p.script);
    EXPECT_EQ(clock_seconds(), 0.0);
    int dx = 0, dy = 0;

    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_EQ(script_frame(), 0u);
    EXPECT_TRUE(key_pressed('W'));
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT);
    EXPECT_TRUE(key_held(0x01));  // the button is a key too, as the OS's keyboard has it
    EXPECT_EQ(clock_seconds(), 1.0 / 60.0);

    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_FALSE(key_held('W'));
    EXPECT_TRUE(key_pressed(KEY_CONTROL));

    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_FALSE(key_pressed(KEY_CONTROL));
    mouse_look(&dx, &dy);
    EXPECT_EQ(dx, 4);
    EXPECT_EQ(dy, -3);
    mouse_look(&dx, &dy);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT | MOUSE_WHEEL_TOWARDS);

    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_EQ(script_frame(), 3u);
    EXPECT_EQ(mouse_buttons, 0u);  // the wheel bit lasted one pump
    EXPECT_FALSE(key_held('S'));
    EXPECT_EQ(clock_seconds(), 1.0 / 60.0 + 1.0 / 60.0 + 1.0 / 60.0 + 0.5);

    EXPECT_EQ(graphics_pump(), 1);  // frame 3 was the last
}

TEST_F(ScriptPlay, RealClockContinuesFromTheScriptsTime) {
    Parsed p("0 step 2\n9 quit\n");
    ASSERT_EQ(p.line, 0) << p.error;
    script_play(&p.script);
    ASSERT_EQ(graphics_pump(), 0);
    const double scripted = clock_seconds();
    EXPECT_EQ(scripted, 2.0);
    script_follow_real_clock();
    ASSERT_EQ(graphics_pump(), 0);
    const double later = clock_seconds();
    EXPECT_GE(later, scripted);
    EXPECT_LT(later, scripted + 2.0 + 3600.0);  // not the OS counter's own origin
    EXPECT_GE(clock_seconds(), later);
}

}  // namespace
