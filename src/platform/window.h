#pragma once
// The one window, its OpenGL context and the polled input state.
//
// Input is sampled once per graphics_pump. key_state is indexed by Win32 virtual-key code on
// every platform; a byte with its high bit set means the key is down.
#include <cstdint>

// Drawing area in pixels; set by graphics_open and by every resize (height at least 1).
extern int screen_width;
extern int screen_height;

// Non-zero builds a framed window instead of the full-screen one. Fixed at build time.
extern const unsigned char windowed;

extern unsigned char key_state[256];
extern unsigned char key_state_before[256];  // key_state as it was before the latest refresh

// Mouse bits: the button bits follow the buttons; the wheel bits say the wheel turned since
// the previous pump.
constexpr uint32_t MOUSE_LEFT = 0x01;
constexpr uint32_t MOUSE_RIGHT = 0x02;
constexpr uint32_t MOUSE_WHEEL_AWAY = 0x04;
constexpr uint32_t MOUSE_WHEEL_TOWARDS = 0x08;
constexpr uint32_t MOUSE_MIDDLE = 0x10;
constexpr uint32_t MOUSE_BUTTON_BITS = MOUSE_LEFT | MOUSE_RIGHT | MOUSE_MIDDLE;

extern uint32_t mouse_buttons;
// While non-zero, mouse_buttons ignores the buttons. Starts at 1 so that a button held when
// the program starts counts only after all buttons have been released once.
extern int32_t mouse_latch;
extern unsigned char alt_tab_minimised;

// Virtual-key codes the program reads (letters and digits are their upper-case ASCII codes).
constexpr int KEY_BACK = 0x08;
constexpr int KEY_TAB = 0x09;
constexpr int KEY_RETURN = 0x0D;
constexpr int KEY_SHIFT = 0x10;
constexpr int KEY_CONTROL = 0x11;
constexpr int KEY_MENU = 0x12;  // Alt
constexpr int KEY_ESCAPE = 0x1B;
constexpr int KEY_SPACE = 0x20;

inline bool key_held(int vk) { return (key_state[vk & 0xFF] & 0x80) != 0; }
inline bool key_pressed(int vk) {
    return (key_state[vk & 0xFF] & 0x80) && !(key_state_before[vk & 0xFF] & 0x80);
}
// Ctrl held and the letter pressed.
inline bool ctrl_pressed(int letter) { return key_held(KEY_CONTROL) && key_pressed(letter); }

// Opens the window and makes its context current. width 0: the primary screen's size;
// -1: the whole virtual desktop; positive: exactly that drawing size. Returns 1 on success,
// 0 when the resulting size is 0 (nothing created). Failures to create go to fatal_error.
int graphics_open(int width, int height, const char* title);
// Handles waiting messages and refreshes the input state from the event source. Returns 1
// when the quit message was taken (nothing else is done then), else 0.
int graphics_pump();
// Restores the display, releases the context and ends the process with status 0.
[[noreturn]] void graphics_shutdown();
// The same with a given exit status (fatal errors end with 1).
[[noreturn]] void graphics_shutdown_status(int status);

// The leading number of the GL_VERSION string ("2.1.2 ..." gives 2.1).
float gl_version();
// Prints what the current context is on stderr, as graphics_open does:
// "Zibu: OpenGL <version> on <renderer> (asked for <how>)".
void gl_context_report(const char* how);
// Sets the largest anisotropy on the bound 2D texture when the extension is listed.
void anisotropy_max_on_bound_texture();
// Address of an OpenGL entry point beyond 1.1, or null.
void* gl_proc_address(const char* name);
// Shows the back buffer of the window (no-op before graphics_open).
void swap_window_buffers();
// Cursor offset from the window centre since the previous call (either output may be null),
// then the cursor goes back to the centre. Read from the event source.
void mouse_look(int* dx, int* dy);

// ---- The event source ----
//
// Everything the program learns from the outside world passes here: the messages of each
// pump, the keyboard, the state of the window, the mouse movement and the clock. The source is
// either the OS (os_events, defined by the backend) or a script played back frame by frame.
// Both go through the same shared pump rules below, so a scripted run executes the frame code
// of a real one.
struct EventSource {
    // Handles the messages waiting for this pump; mouse input among them goes through
    // mouse_button_message and mouse_wheel_message. Returns 1 when the quit message came.
    int (*messages)();
    bool (*minimised)();
    void (*raise_topmost)();
    // The keyboard as it stands: high bit = down, by virtual-key code.
    void (*read_keyboard)(unsigned char out[256]);
    void (*minimise)();
    // mouse_look itself: the movement since the previous call, then back to the centre.
    void (*mouse_motion)(int* dx, int* dy);
    // Installed as clock_seconds along with the source.
    double (*clock)();
    // Non-zero: graphics_open makes a plain window of exactly this drawing size, whatever the
    // desktop (no full screen, no display-mode change, the pointer left free). 0: the game's
    // own window.
    int fixed_width, fixed_height;
};

extern const EventSource os_events;
extern const EventSource* event_source;  // &os_events unless a script plays
// Makes source the event source and its clock the clock.
void event_source_use(const EventSource* source);

// The backend's message loop: window messages are always handled; input messages (mouse
// buttons, wheel, motion) reach the shared rules only when take_input is set. Returns 1 when
// the quit message came.
int window_messages(bool take_input);

// ---- The pump logic both sources share ----

// Zeroes both keyboard arrays (when the window opens).
void input_reset();
// Start of a pump, before any message: the wheel bits of the previous pump are dropped.
void pump_begin();
// After the messages: the minimised rule, topmost placement, keyboard refresh, Alt+Tab.
// Returns 0 (the value of graphics_pump when no quit message came).
int pump_after_messages(const EventSource& source);
// A mouse move or button message; buttons holds the buttons now down (any bits, masked here).
void mouse_button_message(uint32_t buttons);
// A wheel message; positive turns away from the user.
void mouse_wheel_message(int32_t delta);
