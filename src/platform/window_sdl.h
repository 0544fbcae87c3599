#pragma once
// How the Linux backend turns SDL's keyboard and mouse state into the Win32-style input
// state the rest of the program reads (plain integers, so tests can drive it), and how it asks
// for its OpenGL context.
#include <cstdint>
#include <string>

struct SDL_Window;

// The Win32 virtual-key code for an SDL scancode, or 0 when the key has none. keycode is the
// SDL key the current layout puts on that scancode (0 when unknown): letter and digit keys
// follow the layout, as Win32's virtual keys do; all others follow the physical key.
int vk_of_sdl_key(int scancode, int keycode);
// Sets the high bit of out[vk] for every key down in SDL's scancode array, including the
// generic Shift, Ctrl and Alt codes for either side; all other bytes become 0.
void keyboard_state_from_sdl(const uint8_t* scancodes, int count, unsigned char out[256]);
// The mouse bits (0x01 left, 0x02 right, 0x10 middle) of an SDL button mask.
uint32_t mouse_bits_of_sdl_buttons(uint32_t sdl_mask);

// The OpenGL context is asked for in these steps, first to last, until one gives a context.
struct GlContextRequest {
    const char* name;
    int profile;      // SDL_GL_CONTEXT_PROFILE_* mask, 0 for none
    int major, minor; // 0, 0: no version asked
};
constexpr int GL_CONTEXT_REQUESTS = 3;
extern const GlContextRequest gl_context_requests[GL_CONTEXT_REQUESTS];
// Sets SDL's attributes for a step: the window's pixel format (the same in every step) and the
// context's version and profile. Windows must be made after this.
void gl_context_request(int step);
// A context for the window from the first step that gives one (its index in *step), or null.
void* gl_context_create(SDL_Window* window, int* step);
// Why SDL's video driver cannot show the game to anyone, or empty when it can.
std::string video_driver_unusable(const char* driver);
