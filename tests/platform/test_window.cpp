// The input rules both backends share (key edges, the minimised and Alt+Tab rules, the mouse
// latch and the wheel bits), and the Linux backend's translation of SDL input to them.
#include "platform/window.h"
#include "platform/window_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

unsigned char keyboard_now[256];
bool fake_minimised = false;
int topmost_calls = 0;
int minimise_calls = 0;

// A source with no messages waiting: the window state and keyboard the tests set.
const EventSource fake_source = {
    .messages = [] { return 0; },
    .minimised = [] { return fake_minimised; },
    .raise_topmost = [] { ++topmost_calls; },
    .read_keyboard = [](unsigned char out[256]) { std::memcpy(out, keyboard_now, 256); },
    .minimise = [] { ++minimise_calls; },
    .mouse_motion = nullptr, .clock = nullptr, .fixed_width = 0, .fixed_height = 0,
};

void pump() { EXPECT_EQ(graphics_pump(), 0); }

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(keyboard_now, 0, sizeof keyboard_now);
        fake_minimised = false;
        topmost_calls = minimise_calls = 0;
        input_reset();
        mouse_buttons = 0;
        mouse_latch = 1;
        alt_tab_minimised = 0;
        event_source = &fake_source;
    }
    void TearDown() override { event_source = &os_events; }
};

TEST_F(Input, KeyHeldAcrossPumpsIsPressedOnlyInTheFirst) {
    keyboard_now['Q'] = 0x80;
    pump();
    EXPECT_TRUE(key_pressed('Q') && key_held('Q'));
    pump();
    EXPECT_TRUE(!key_pressed('Q') && key_held('Q'));
    keyboard_now['Q'] = 0;
    pump();
    EXPECT_FALSE(key_held('Q'));
    keyboard_now['Q'] = 0x81;  // low bit is the toggle state; only the high bit counts
    pump();
    EXPECT_TRUE(key_pressed('Q'));
}

TEST_F(Input, MinimisedWindowKeepsTheKeyboardArrays) {
    keyboard_now['A'] = 0x80;
    pump();
    pump();
    fake_minimised = true;
    keyboard_now['A'] = 0;
    keyboard_now['B'] = 0x80;
    pump();
    EXPECT_TRUE(key_held('A') && !key_held('B') && (key_state_before['A'] & 0x80));
    EXPECT_EQ(topmost_calls, 2);
}

TEST_F(Input, AltTabMinimisesUntilTheWindowIsMinimised) {
    pump();
    EXPECT_EQ(topmost_calls, 1);
    keyboard_now[KEY_MENU] = keyboard_now[KEY_TAB] = 0x80;
    pump();
    EXPECT_TRUE(alt_tab_minimised == 1 && minimise_calls == 1);
    keyboard_now[KEY_MENU] = keyboard_now[KEY_TAB] = 0;
    pump();  // not minimised yet: asks again, and is not placed on top meanwhile
    EXPECT_TRUE(minimise_calls == 2 && topmost_calls == 2);
    fake_minimised = true;
    pump();
    EXPECT_EQ(alt_tab_minimised, 0);
    fake_minimised = false;  // restored by the user: on top again, no more minimising
    pump();
    EXPECT_TRUE(minimise_calls == 2 && topmost_calls == 3);
}

TEST_F(Input, ButtonHeldAtStartIsIgnoredUntilAllAreReleased) {
    for (uint32_t held : {MOUSE_LEFT, MOUSE_LEFT | MOUSE_RIGHT, MOUSE_RIGHT}) {
        mouse_button_message(held);
        EXPECT_EQ(mouse_buttons, 0u) << held;
    }
    mouse_button_message(0);
    EXPECT_EQ(mouse_latch, 0);
    mouse_button_message(MOUSE_RIGHT | MOUSE_MIDDLE | 0x04 | 0x08);  // other bits of wParam
    EXPECT_EQ(mouse_buttons, MOUSE_RIGHT | MOUSE_MIDDLE);
}

TEST_F(Input, WheelBitsLastOnePump) {
    mouse_wheel_message(-1);  // the latch does not hold the wheel
    EXPECT_EQ(mouse_buttons, MOUSE_WHEEL_TOWARDS);
    mouse_button_message(0);
    mouse_button_message(MOUSE_LEFT);
    mouse_wheel_message(120);
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT | MOUSE_WHEEL_AWAY);
    pump();
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT);
    mouse_wheel_message(-120);
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT | MOUSE_WHEEL_TOWARDS);
    // A move after the wheel in the same pump drops the wheel bit.
    mouse_button_message(MOUSE_LEFT);
    EXPECT_EQ(mouse_buttons, MOUSE_LEFT);
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

}  // namespace
