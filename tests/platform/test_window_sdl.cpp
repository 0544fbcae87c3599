// The Linux backend's translation of SDL input to Win32 virtual keys and mouse bits.
#include "platform/window.h"
#include "platform/window_sdl.h"

#include <SDL.h>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

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

    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_LMASK), MOUSE_LEFT);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_RMASK), MOUSE_RIGHT);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_MMASK), MOUSE_MIDDLE);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_X1MASK | SDL_BUTTON_X2MASK), 0u);
}

}  // namespace
