// The input rules both backends share: key edges, the minimised and Alt+Tab rules, the mouse
// latch and the wheel bits.
#include "platform/window.h"

#include <gtest/gtest.h>

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
    // The low bit is the toggle state; only the high bit counts.
    const struct { unsigned char now; bool pressed, held; } pumps[] = {
        {0x80, true, true}, {0x80, false, true}, {0, false, false}, {0x81, true, true}};
    for (const auto& p : pumps) {
        keyboard_now['Q'] = p.now;
        pump();
        EXPECT_TRUE(key_pressed('Q') == p.pressed && key_held('Q') == p.held) << int(p.now);
    }
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

}  // namespace
