// The Linux backend's translation of SDL input to Win32 virtual keys and mouse bits.
#include "platform/window.h"
#include "platform/window_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

TEST(SdlInput, KeysMapToWin32VirtualKeys) {
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_ESCAPE, 0), KEY_ESCAPE);
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_Q, 0), 'Q');
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_0, 0), '0');
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_F1, 0), 0x70);
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_RCTRL, 0), 0xA3);
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_KP_ENTER, 0), KEY_RETURN);
}

TEST(SdlInput, LetterKeysFollowTheLayout) {
    // On a French layout the key where Q sits on a US keyboard types 'a'.
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_Q, 'a'), 'A');
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_A, 'q'), 'Q');
    // Keys that type no letter or digit there keep the physical mapping.
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_1, '&'), '1');
    // Non-letter keys never follow the layout.
    EXPECT_EQ(vk_of_sdl_key(SDL_SCANCODE_ESCAPE, 'q'), KEY_ESCAPE);
}

TEST(SdlInput, KeyboardStateSetsHighBitsAndGenericModifiers) {
    uint8_t scancodes[SDL_NUM_SCANCODES] = {};
    scancodes[SDL_SCANCODE_RCTRL] = 1;
    scancodes[SDL_SCANCODE_LALT] = 1;
    scancodes[SDL_SCANCODE_ESCAPE] = 1;
    unsigned char out[256];
    std::fill(out, out + 256, 0x55);
    keyboard_state_from_sdl(scancodes, SDL_NUM_SCANCODES, out);
    EXPECT_EQ(out[KEY_ESCAPE], 0x80);
    EXPECT_EQ(out[0xA3], 0x80);
    EXPECT_EQ(out[KEY_CONTROL], 0x80);
    EXPECT_EQ(out[KEY_MENU], 0x80);
    EXPECT_EQ(out[KEY_SHIFT], 0);
    int down = 0;
    for (int i = 0; i < 256; ++i) down += out[i] != 0;
    EXPECT_EQ(down, 5);
}

TEST(SdlInput, MouseButtonsMapToTheSameBits) {
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_LMASK), MOUSE_LEFT);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_RMASK), MOUSE_RIGHT);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_MMASK), MOUSE_MIDDLE);
    EXPECT_EQ(mouse_bits_of_sdl_buttons(SDL_BUTTON_X1MASK | SDL_BUTTON_X2MASK), 0u);
}

}  // namespace
