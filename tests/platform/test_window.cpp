// The window. Its input rules both backends share (key edges, minimised and Alt+Tab, mouse
// latch, wheel), the SDL backend's translation to them; scripts: what the parser takes and
// rejects, the caller's settings, how a played script reaches the input state and both clocks
// through the shared pump. On a real OpenGL context: projection, overlay mode, the end of a frame
// and the primitives; the mipmap filter and the upload of a whole chain; and the files the game
// writes into the working directory: screenshots (the BMP, its number, the converter), the log.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/profile.h"
#include "platform/screenshot.h"
#include "platform/script.h"
#include "platform/scriptplay.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "platform/window_sdl.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

// A source with no messages waiting: the window state and keyboard the tests set.
struct {
    unsigned char keyboard[256];
    bool minimised;
    int topmost_calls, minimise_calls;
} fake;

const EventSource fake_source = {
    .messages = [] { return 0; },
    .minimised = [] { return fake.minimised; },
    .raise_topmost = [] { ++fake.topmost_calls; },
    .read_keyboard = [](unsigned char out[256]) { std::memcpy(out, fake.keyboard, 256); },
    .minimise = [] { ++fake.minimise_calls; },
    .mouse_motion = nullptr, .clock = nullptr, .fixed_width = 0, .fixed_height = 0,
};

void pump() { EXPECT_EQ(graphics_pump(), 0); }

// Each test starts with no key or button down, the mouse latched, the source above (until a
// script plays) and the OS's clocks; it ends with the OS's events again.
class Input : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        fake = {};
        event_source = &fake_source;
    }
    void TearDown() override { reset(); }
    static void reset() {
        input_reset();
        mouse_buttons = 0;
        mouse_latch = 1;
        alt_tab_minimised = 0;
        event_source_use(&os_events);
        profile_clock = profile_clock_default;
    }
};

TEST_F(Input, KeyHeldAcrossPumpsIsPressedOnlyInTheFirst) {
    fake.keyboard['Q'] = 0x80;
    pump();
    EXPECT_TRUE(key_pressed('Q') && key_held('Q'));
    pump();
    EXPECT_TRUE(!key_pressed('Q') && key_held('Q'));
    fake.keyboard['Q'] = 0;
    pump();
    EXPECT_FALSE(key_held('Q'));
    fake.keyboard['Q'] = 0x81;  // low bit is the toggle state; only the high bit counts
    pump();
    EXPECT_TRUE(key_pressed('Q'));
}

TEST_F(Input, MinimisedWindowKeepsTheKeyboardArrays) {
    fake.keyboard['A'] = 0x80;
    pump();
    pump();
    fake.minimised = true;
    fake.keyboard['A'] = 0;
    fake.keyboard['B'] = 0x80;
    pump();
    EXPECT_TRUE(key_held('A') && !key_held('B') && (key_state_before['A'] & 0x80));
    EXPECT_EQ(fake.topmost_calls, 2);
}

TEST_F(Input, AltTabMinimisesUntilTheWindowIsMinimised) {
    pump();
    EXPECT_EQ(fake.topmost_calls, 1);
    fake.keyboard[KEY_MENU] = fake.keyboard[KEY_TAB] = 0x80;
    pump();
    EXPECT_TRUE(alt_tab_minimised == 1 && fake.minimise_calls == 1);
    fake.keyboard[KEY_MENU] = fake.keyboard[KEY_TAB] = 0;
    pump();  // not minimised yet: asks again, and is not placed on top meanwhile
    EXPECT_TRUE(fake.minimise_calls == 2 && fake.topmost_calls == 2);
    fake.minimised = true;
    pump();
    EXPECT_EQ(alt_tab_minimised, 0);
    fake.minimised = false;  // restored by the user: on top again, no more minimising
    pump();
    EXPECT_TRUE(fake.minimise_calls == 2 && fake.topmost_calls == 3);
}

// Mouse messages in turn, and the buttons seen after each: buttons held at the start are
// ignored until all are released (the wheel is not held back), other bits of wParam are dropped,
// wheel bits last one pump and a move after the wheel in the same pump drops them.
TEST_F(Input, ButtonsHeldAtStartWaitForAllReleasedAndWheelBitsLastOnePump) {
    enum Step { BUTTONS, WHEEL, PUMP };
    const struct { Step step; int32_t value; uint32_t seen; } steps[] = {
        {BUTTONS, MOUSE_LEFT, 0}, {BUTTONS, MOUSE_LEFT | MOUSE_RIGHT, 0}, {BUTTONS, MOUSE_RIGHT, 0},
        {WHEEL, -1, MOUSE_WHEEL_TOWARDS}, {BUTTONS, 0, 0},
        {BUTTONS, MOUSE_RIGHT | MOUSE_MIDDLE | 0x04 | 0x08, MOUSE_RIGHT | MOUSE_MIDDLE},
        {BUTTONS, MOUSE_LEFT, MOUSE_LEFT}, {WHEEL, 120, MOUSE_LEFT | MOUSE_WHEEL_AWAY},
        {PUMP, 0, MOUSE_LEFT}, {WHEEL, -120, MOUSE_LEFT | MOUSE_WHEEL_TOWARDS},
        {BUTTONS, MOUSE_LEFT, MOUSE_LEFT}};
    for (const auto& s : steps) {
        if (s.step == BUTTONS) mouse_button_message(s.value);
        if (s.step == WHEEL) mouse_wheel_message(s.value);
        if (s.step == PUMP) pump();
        EXPECT_EQ(mouse_buttons, s.seen) << "step " << &s - steps;
    }
    EXPECT_EQ(mouse_latch, 0);
}

TEST(SdlInput, KeysMapToWin32VirtualKeysLettersFollowingTheLayout) {
    const struct { SDL_Scancode code; int typed, vk; } cases[] = {
        {SDL_SCANCODE_ESCAPE, 0, KEY_ESCAPE}, {SDL_SCANCODE_Q, 0, 'Q'}, {SDL_SCANCODE_0, 0, '0'},
        {SDL_SCANCODE_F1, 0, 0x70}, {SDL_SCANCODE_RCTRL, 0, 0xA3}, {SDL_SCANCODE_KP_ENTER, 0, KEY_RETURN},
        // On a French layout the key where Q sits on a US keyboard types 'a'.
        {SDL_SCANCODE_Q, 'a', 'A'}, {SDL_SCANCODE_A, 'q', 'Q'},
        // Keys typing no letter or digit there, and non-letter keys, keep the physical mapping.
        {SDL_SCANCODE_1, '&', '1'}, {SDL_SCANCODE_ESCAPE, 'q', KEY_ESCAPE},
    };
    for (const auto& c : cases) EXPECT_EQ(vk_of_sdl_key(c.code, c.typed), c.vk) << c.code << " " << c.typed;
}

TEST(SdlInput, KeyboardStateSetsHighBitsAndGenericModifiersAndMouseBits) {
    uint8_t scancodes[SDL_NUM_SCANCODES] = {};
    scancodes[SDL_SCANCODE_RCTRL] = scancodes[SDL_SCANCODE_LALT] = scancodes[SDL_SCANCODE_ESCAPE] = 1;
    unsigned char out[256];
    std::fill(out, out + 256, 0x55);
    keyboard_state_from_sdl(scancodes, SDL_NUM_SCANCODES, out);
    for (int vk : {KEY_ESCAPE, 0xA3, KEY_CONTROL, KEY_MENU}) EXPECT_EQ(out[vk], 0x80) << vk;
    EXPECT_EQ(std::count(out, out + 256, 0), 251);

    const uint32_t buttons[][2] = {{SDL_BUTTON_LMASK, MOUSE_LEFT}, {SDL_BUTTON_RMASK, MOUSE_RIGHT},
                                   {SDL_BUTTON_MMASK, MOUSE_MIDDLE}, {SDL_BUTTON_X1MASK | SDL_BUTTON_X2MASK, 0}};
    for (const auto& b : buttons) EXPECT_EQ(mouse_bits_of_sdl_buttons(b[0]), b[1]) << b[0];
}

// A caller's setting "0 seed N" (N at most 99): its own message for a bad N, the parser's for a
// wrong count of arguments.
bool seed_setting(const ScriptToken* args, size_t count, void* out, char why[SCRIPT_WHY_SIZE]) {
    if (count == 1 && script_parse_count(args[0], 99, static_cast<uint32_t*>(out))) return true;
    if (count == 1) std::snprintf(why, SCRIPT_WHY_SIZE, "a seed is at most 99");
    return false;
}

struct Parsed {
    Script script{};
    uint32_t seed = 0;
    char error[SCRIPT_ERROR_SIZE] = {};
    int line = 0;
    explicit Parsed(const std::string& text) {
        const ScriptSetting settings[] = {{"seed", seed_setting, &seed}};
        line = script_parse(text.data(), text.size(), &script, error, settings, 1);
    }
    ~Parsed() { script_free(&script); }
    const ScriptEvent& at(uint32_t i) const { return DynArray_at<ScriptEvent>(&script.events, i); }
};

TEST(ScriptParse, EveryVerbCommentsAndBlankLines) {
    Parsed p("# a comment line, then a blank one\n\n0 size 320 200\n"
             "0\tdown Ctrl   # any case, tabs and a trailing comment\r\n"
             "3 up pagedown\n3 mouse -12 +7\n4 button middle down\n5 wheel -1\n6 step 0.02\n"
             "6 step 1/30\n7 shot volley-1.b_2\n9 quit\n9 down 3");  // no newline at the end
    ASSERT_EQ(p.line, 0) << p.error;
    EXPECT_TRUE(p.script.width == 320 && p.script.height == 200 && p.script.last_frame == 9u);
    ASSERT_EQ(p.script.events.count, 10u);
    EXPECT_TRUE(p.at(0).a == KEY_CONTROL && p.at(1).a == 0x22 && p.at(9).a == '3');
    EXPECT_TRUE(p.at(2).a == -12 && p.at(2).b == 7);
    EXPECT_TRUE(p.at(3).a == static_cast<int32_t>(MOUSE_MIDDLE) && p.at(3).b == 1 && p.at(4).a == -1);
    // One division of exact integers: the same double on every C runtime.
    EXPECT_TRUE(p.at(5).seconds == 2.0 / 100.0 && p.at(6).seconds == 1.0 / 30.0);
    EXPECT_STREQ(p.at(7).name, "volley-1.b_2");
    Parsed empty("");
    EXPECT_TRUE(empty.line == 0 && empty.script.width == SCRIPT_DEFAULT_WIDTH &&
                !empty.script.profile_clock_real);
    Parsed settings("0 seed 42\n0 clock real\n0 down w\n");
    ASSERT_EQ(settings.line, 0) << settings.error;
    EXPECT_TRUE(settings.seed == 42u && settings.script.profile_clock_real);
    EXPECT_EQ(settings.script.events.count, 1u);  // settings are no events
}

TEST(ScriptParse, BadLinesAreNamedByTheirNumberAndLeaveNothing) {
    struct Case { const char *text, *message; };
    const Case cases[] = {
        {"0 down w\n\n# fine\nten down w\n", "line 4: \"ten\" is not a frame number"},
        {"7\n", "line 1: a verb must follow the frame number"}, {"0 jump\n", "line 1: unknown verb \"jump\""},
        {"0 down w\n1 down shft\n", "line 2: unknown key \"shft\""},
        {"5 down w\n4 up w\n", "line 2: frame 4 comes after frame 5"},
        {"1 quit\n2 down w\n", "line 2: frame 2 comes after the quit of frame 1"},
        {"0 mouse 3\n", "line 1: expected \"mouse DX DY\""}, {"0 clock fast\n", "line 1: expected \"clock real\""},
        {"0 button left sideways\n", "line 1: expected \"button left|right|middle down|up\""},
        {"0 shot ../escape\n", "line 1: expected \"shot NAME (letters, digits, _ - .)\""},
        {"0 step 1e-3\n", "line 1: expected \"step SECONDS (above 0, at most 10)\""},
        {"3 size 640 360\n", "line 1: size is set once, at frame 0"}, {"0 seed\n", "line 1: bad arguments to seed"},
        {"0 clock real\n2 clock real\n", "line 2: clock is set once, at frame 0"},
        {"0 seed 100\n", "line 1: a seed is at most 99"}, {"1 seed 3\n", "line 1: seed is set once, at frame 0"},
        {"0 seed 1 2 3 4 5 6 7 8\n", "line 1: bad arguments to seed"},
        {"0 seed 3\n0 seed 3\n", "line 2: seed is set once, at frame 0"},
        {"0 stress 20 3\n", "line 1: unknown verb \"stress\""},  // the app's, not named here
    };
    for (const Case& c : cases) {
        Parsed p(c.text);
        EXPECT_EQ(p.line, c.message[5] - '0') << c.text;  // the line number in the message
        EXPECT_STREQ(p.error, c.message) << c.text;
        EXPECT_EQ(p.script.events.count, 0u) << c.text;
    }
}

// A script played through graphics_pump, as main_loop pumps: once at the end of start-up
// (frame 0's input), then after every frame.
using ScriptPlay = Input;

TEST_F(ScriptPlay, EventsReachTheFrameTheyNameThroughTheSharedRules) {
    Parsed p("0 down w\n0 button left down\n"  // the start-up move has released the latch: counts at once
             "1 up w\n2 mouse 3 -4\n2 mouse 1 1\n2 wheel -1\n3 step 0.5\n"
             "3 down s\n3 up s\n"  // down and up within one frame: never seen
             "3 button left up\n3 quit\n");
    ASSERT_EQ(p.line, 0) << p.error;
    script_play(&p.script);
    EXPECT_EQ(clock_seconds(), 0.0);
    ASSERT_EQ(graphics_pump(), 0);
    // The button is a key too, as in the OS's keyboard state.
    EXPECT_TRUE(key_pressed('W') && mouse_buttons == MOUSE_LEFT && key_held(0x01));
    EXPECT_EQ(clock_seconds(), 1.0 / 60.0);
    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_FALSE(key_held('W'));
    ASSERT_EQ(graphics_pump(), 0);
    int dx = 0, dy = 0;
    mouse_look(&dx, &dy);
    EXPECT_TRUE(dx == 4 && dy == -3 && mouse_buttons == (MOUSE_LEFT | MOUSE_WHEEL_TOWARDS));
    ASSERT_EQ(graphics_pump(), 0);
    EXPECT_TRUE(script_frame() == 3u && mouse_buttons == 0u && !key_held('S'));
    EXPECT_EQ(clock_seconds(), 1.0 / 60.0 + 1.0 / 60.0 + 1.0 / 60.0 + 0.5);
    EXPECT_EQ(graphics_pump(), 1);  // frame 3 was the last
    // From a frame on, the simulation's clock can follow real time, going on from the script's
    // time (not from the OS counter's own origin).
    script_sim_clock_follow_real();
    EXPECT_TRUE(clock_seconds() >= 3.0 / 60.0 + 0.5 && clock_seconds() < 3600.0) << clock_seconds();
}

// "clock real" times the profiler by real time while the simulation's clock still steps by the
// script; without it the profiler reads the simulation's clock. (That the real time moves and
// the script's stands within a frame, in every frame's sections: replay.trace.)
TEST_F(ScriptPlay, ClockRealTimesTheProfilerOnlyByRealTime) {
    for (const bool real : {false, true}) {
        Parsed p(real ? "0 clock real\n1 quit\n" : "1 quit\n");
        script_play(&p.script);
        ASSERT_EQ(graphics_pump(), 0);
        EXPECT_EQ(profile_clock() == clock_seconds(), !real) << real;
        EXPECT_EQ(clock_seconds(), 1.0 / 60.0) << real;
    }
}

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
