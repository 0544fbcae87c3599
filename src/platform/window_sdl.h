#pragma once
// How the Linux backend turns SDL's keyboard and mouse state into the Win32-style input
// state the rest of the program reads. Plain integers, so tests can drive it.
#include <cstdint>

// The Win32 virtual-key code for an SDL scancode, or 0 when the key has none. keycode is the
// SDL key the current layout puts on that scancode (0 when unknown): letter and digit keys
// follow the layout, as Win32's virtual keys do; all others follow the physical key.
int vk_of_sdl_key(int scancode, int keycode);
// Sets the high bit of out[vk] for every key down in SDL's scancode array, including the
// generic Shift, Ctrl and Alt codes for either side; all other bytes become 0.
void keyboard_state_from_sdl(const uint8_t* scancodes, int count, unsigned char out[256]);
// The mouse bits (0x01 left, 0x02 right, 0x10 middle) of an SDL button mask.
uint32_t mouse_bits_of_sdl_buttons(uint32_t sdl_mask);
