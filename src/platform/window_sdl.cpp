// The window, OpenGL context and input on Linux through SDL2: a full-screen-desktop window
// with a compatibility-profile context, feeding the same input state and rules as Win32.
#include "platform/window_sdl.h"

#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/window.h"

#include <SDL.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SDL_Window* main_window = nullptr;
SDL_GLContext gl_context = nullptr;
bool video_started = false;
uint32_t sdl_buttons_down = 0;  // SDL button mask as the events have reported it
int mouse_motion_x = 0;         // relative motion gathered since the last mouse_look
int mouse_motion_y = 0;
// Set by SIGINT, SIGTERM or SDL's quit event; once set, every pump reports the quit, so that
// one taken by the start-up pump, whose result is not looked at, still ends the loop.
volatile std::sig_atomic_t quit_requested = 0;

// Win32 virtual-key codes of the SDL scancodes up to SDL_SCANCODE_RGUI; 0 = no key.
int scancode_vk(int sc) {
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return 0x70 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 0x7C + (sc - SDL_SCANCODE_F13);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 0x61 + (sc - SDL_SCANCODE_KP_1);
    switch (sc) {
        case SDL_SCANCODE_0: return '0';
        case SDL_SCANCODE_RETURN: return KEY_RETURN;
        case SDL_SCANCODE_ESCAPE: return KEY_ESCAPE;
        case SDL_SCANCODE_BACKSPACE: return KEY_BACK;
        case SDL_SCANCODE_TAB: return KEY_TAB;
        case SDL_SCANCODE_SPACE: return KEY_SPACE;
        case SDL_SCANCODE_MINUS: return 0xBD;
        case SDL_SCANCODE_EQUALS: return 0xBB;
        case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
        case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
        case SDL_SCANCODE_BACKSLASH: return 0xDC;
        case SDL_SCANCODE_NONUSHASH: return 0xDE;
        case SDL_SCANCODE_SEMICOLON: return 0xBA;
        case SDL_SCANCODE_APOSTROPHE: return 0xDE;
        case SDL_SCANCODE_GRAVE: return 0xC0;
        case SDL_SCANCODE_COMMA: return 0xBC;
        case SDL_SCANCODE_PERIOD: return 0xBE;
        case SDL_SCANCODE_SLASH: return 0xBF;
        case SDL_SCANCODE_CAPSLOCK: return 0x14;
        case SDL_SCANCODE_PRINTSCREEN: return 0x2C;
        case SDL_SCANCODE_SCROLLLOCK: return 0x91;
        case SDL_SCANCODE_PAUSE: return 0x13;
        case SDL_SCANCODE_INSERT: return 0x2D;
        case SDL_SCANCODE_HOME: return 0x24;
        case SDL_SCANCODE_PAGEUP: return 0x21;
        case SDL_SCANCODE_DELETE: return 0x2E;
        case SDL_SCANCODE_END: return 0x23;
        case SDL_SCANCODE_PAGEDOWN: return 0x22;
        case SDL_SCANCODE_RIGHT: return 0x27;
        case SDL_SCANCODE_LEFT: return 0x25;
        case SDL_SCANCODE_DOWN: return 0x28;
        case SDL_SCANCODE_UP: return 0x26;
        case SDL_SCANCODE_NUMLOCKCLEAR: return 0x90;
        case SDL_SCANCODE_KP_DIVIDE: return 0x6F;
        case SDL_SCANCODE_KP_MULTIPLY: return 0x6A;
        case SDL_SCANCODE_KP_MINUS: return 0x6D;
        case SDL_SCANCODE_KP_PLUS: return 0x6B;
        case SDL_SCANCODE_KP_ENTER: return KEY_RETURN;
        case SDL_SCANCODE_KP_0: return 0x60;
        case SDL_SCANCODE_KP_PERIOD: return 0x6E;
        case SDL_SCANCODE_NONUSBACKSLASH: return 0xE2;
        case SDL_SCANCODE_APPLICATION: return 0x5D;
        case SDL_SCANCODE_LCTRL: return 0xA2;
        case SDL_SCANCODE_LSHIFT: return 0xA0;
        case SDL_SCANCODE_LALT: return 0xA4;
        case SDL_SCANCODE_LGUI: return 0x5B;
        case SDL_SCANCODE_RCTRL: return 0xA3;
        case SDL_SCANCODE_RSHIFT: return 0xA1;
        case SDL_SCANCODE_RALT: return 0xA5;
        case SDL_SCANCODE_RGUI: return 0x5C;
        default: return 0;
    }
}

bool is_layout_key(int sc) { return sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_0; }

bool sdl_minimised() {
    return main_window && (SDL_GetWindowFlags(main_window) & SDL_WINDOW_MINIMIZED);
}

// The request goes to the window manager only when the window is not on top already, so
// repeating the rule every pump costs nothing.
void sdl_raise_topmost() {
    if (!(SDL_GetWindowFlags(main_window) & SDL_WINDOW_ALWAYS_ON_TOP)) {
        SDL_SetWindowAlwaysOnTop(main_window, SDL_TRUE);
    }
}

void sdl_read_keyboard(unsigned char out[256]) {
    int count = 0;
    const Uint8* scancodes = SDL_GetKeyboardState(&count);
    keyboard_state_from_sdl(scancodes, count, out);
    // Win32's keyboard state also carries the mouse buttons under their own codes.
    Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
    if (buttons & SDL_BUTTON_LMASK) out[0x01] = 0x80;
    if (buttons & SDL_BUTTON_RMASK) out[0x02] = 0x80;
    if (buttons & SDL_BUTTON_MMASK) out[0x04] = 0x80;
    if (buttons & SDL_BUTTON_X1MASK) out[0x05] = 0x80;
    if (buttons & SDL_BUTTON_X2MASK) out[0x06] = 0x80;
}

void sdl_minimise() { SDL_MinimizeWindow(main_window); }

void drawable_resize() {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(main_window, &w, &h);
    resize(w, h);
}

void on_quit_signal(int) { quit_requested = 1; }

// SIGINT and SIGTERM end the game through the main loop's quit path like Esc. A signal that
// the process was started with ignored (nohup, a background job) stays ignored.
void catch_quit_signals() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
        struct sigaction sa {};
        sa.sa_handler = on_quit_signal;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

// Without a display there is nobody to dismiss a box: the message goes to stderr and the log.
[[noreturn]] void no_display(const char* why) {
    std::string message = std::string("No display: ") + why;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        message += " (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    }
    fatal_message_box = fatal_message_text_only;
    fatal_error(message.c_str());
}

}  // namespace

const GlContextRequest gl_context_requests[GL_CONTEXT_REQUESTS] = {
    // SDL then makes the context the old way, which gives the newest version that still
    // draws with the fixed functions, down to 1.1.
    {"no version or profile", 0, 0, 0},
    {"compatibility profile 2.1", SDL_GL_CONTEXT_PROFILE_COMPATIBILITY, 2, 1},
    // 1.0 stands for any version compatible with it.
    {"compatibility profile 1.0", SDL_GL_CONTEXT_PROFILE_COMPATIBILITY, 1, 0},
};

void gl_context_request(int step) {
    const GlContextRequest& r = gl_context_requests[step];
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, r.profile);
    if (r.major != 0) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, r.major);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, r.minor);
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

void* gl_context_create(SDL_Window* window, int* step) {
    for (int i = 0; i < GL_CONTEXT_REQUESTS; ++i) {
        gl_context_request(i);
        if (SDL_GLContext context = SDL_GL_CreateContext(window)) {
            *step = i;
            return context;
        }
    }
    return nullptr;
}

std::string video_driver_unusable(const char* driver) {
    if (!driver) return "no video driver started";
    for (const char* hidden : {"offscreen", "dummy"}) {
        if (SDL_strcasecmp(driver, hidden) == 0) {
            return std::string("SDL's only video driver is \"") + hidden +
                   "\", which shows nothing";
        }
    }
    return "";
}

int vk_of_sdl_key(int scancode, int keycode) {
    if (is_layout_key(scancode)) {
        if (keycode >= 'a' && keycode <= 'z') return keycode - 'a' + 'A';
        if (keycode >= '0' && keycode <= '9') return keycode;
    }
    return scancode_vk(scancode);
}

void keyboard_state_from_sdl(const uint8_t* scancodes, int count, unsigned char out[256]) {
    std::memset(out, 0, 256);
    for (int sc = 0; sc < count && sc <= SDL_SCANCODE_RGUI; ++sc) {
        if (!scancodes[sc]) continue;
        int keycode = is_layout_key(sc) ? SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(sc)) : 0;
        int vk = vk_of_sdl_key(sc, keycode);
        if (vk) out[vk] = 0x80;
    }
    // Win32 reports the generic modifier codes for either side.
    if (out[0xA0] | out[0xA1]) out[KEY_SHIFT] = 0x80;
    if (out[0xA2] | out[0xA3]) out[KEY_CONTROL] = 0x80;
    if (out[0xA4] | out[0xA5]) out[KEY_MENU] = 0x80;
}

uint32_t mouse_bits_of_sdl_buttons(uint32_t mask) {
    uint32_t bits = 0;
    if (mask & SDL_BUTTON_LMASK) bits |= MOUSE_LEFT;
    if (mask & SDL_BUTTON_RMASK) bits |= MOUSE_RIGHT;
    if (mask & SDL_BUTTON_MMASK) bits |= MOUSE_MIDDLE;
    return bits;
}

int graphics_open(int width, int height, const char* title) {
    if (!video_started) {
        catch_quit_signals();
        if (SDL_Init(SDL_INIT_VIDEO) != 0) no_display(SDL_GetError());
        video_started = true;
        const std::string why = video_driver_unusable(SDL_GetCurrentVideoDriver());
        if (!why.empty()) no_display(why.c_str());
    }

    // The drawing size and the window position.
    const int requested_width = width;
    const bool fixed = event_source->fixed_width > 0;
    if (fixed) {
        width = event_source->fixed_width;
        height = event_source->fixed_height;
    }
    int x = 0, y = 0;
    if (width == 0) {
        SDL_Rect desktop{};
        SDL_GetDisplayBounds(0, &desktop);
        width = windowed ? static_cast<int>(desktop.w * 0.6) : desktop.w;
        height = windowed ? static_cast<int>(desktop.h * 0.6) : desktop.h;
    } else if (width == -1) {
        SDL_Rect all{};
        for (int d = 0; d < SDL_GetNumVideoDisplays(); ++d) {
            SDL_Rect r;
            if (SDL_GetDisplayBounds(d, &r) == 0) SDL_UnionRect(&all, &r, &all);
        }
        x = all.x;
        y = all.y;
        width = all.w;
        height = all.h;
    }
    screen_width = width;
    screen_height = height;
    if (windowed) {
        // Centred on the cursor and kept on the desktop; the window manager adds the frame.
        SDL_Rect desk{};
        SDL_GetDisplayBounds(0, &desk);
        int cx = 0, cy = 0;
        SDL_GetGlobalMouseState(&cx, &cy);
        x = std::max(desk.x, std::min(cx - width / 2, desk.x + desk.w - width));
        y = std::max(desk.y, std::min(cy - height / 2, desk.y + desk.h - height));
    }
    if (screen_width == 0 || screen_height == 0) return 0;

    input_reset();

    gl_context_request(0);

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (windowed) {
        flags |= SDL_WINDOW_RESIZABLE;
    } else if (!fixed) {
        // A full-screen window that loses the focus gets out of the way, as Alt+Tab does.
        SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "1");
        if (requested_width == 0) {
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;  // the desktop keeps its mode
        } else if (requested_width > 0) {
            flags |= SDL_WINDOW_FULLSCREEN;  // a display mode of exactly this size, if any
        } else {
            flags |= SDL_WINDOW_BORDERLESS;  // a plain window across every monitor
        }
    }
    main_window = SDL_CreateWindow(title, x, y, screen_width, screen_height, flags);
    if (!main_window) fatal_error("Window Creation Error.");

    int step = 0;
    gl_context = gl_context_create(main_window, &step);
    if (!gl_context) fatal_error("Can't Create A GL Rendering Context.");
    if (SDL_GL_MakeCurrent(main_window, gl_context) != 0) fatal_error("Can't activate GLRC.");
    gl_context_report(gl_context_requests[step].name);

    // The window manager may have given the window another size than asked for.
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(main_window, &w, &h);
    if (w > 0 && h > 0) {
        screen_width = w;
        screen_height = h;
    }
    gl_start_state(screen_width, screen_height);

    if (!windowed && !fixed) {
        SDL_ShowCursor(SDL_DISABLE);
        // Steering reads relative motion; the pointer stays in the window.
        SDL_SetRelativeMouseMode(SDL_TRUE);
    }
    return 1;
}

int window_messages(bool take_input) {
    if (quit_requested) return 1;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (!take_input && (e.type == SDL_MOUSEMOTION || e.type == SDL_MOUSEBUTTONDOWN ||
                            e.type == SDL_MOUSEBUTTONUP || e.type == SDL_MOUSEWHEEL)) {
            continue;
        }
        switch (e.type) {
            case SDL_QUIT:
                quit_requested = 1;
                return 1;
            case SDL_WINDOWEVENT:
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) graphics_shutdown();
                if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) drawable_resize();
                break;
            case SDL_MOUSEMOTION:
                mouse_motion_x += e.motion.xrel;
                mouse_motion_y += e.motion.yrel;
                sdl_buttons_down = e.motion.state;
                mouse_button_message(mouse_bits_of_sdl_buttons(sdl_buttons_down));
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                Uint32 bit = SDL_BUTTON(e.button.button);
                if (e.type == SDL_MOUSEBUTTONDOWN) {
                    sdl_buttons_down |= bit;
                } else {
                    sdl_buttons_down &= ~bit;
                }
                mouse_button_message(mouse_bits_of_sdl_buttons(sdl_buttons_down));
                break;
            }
            case SDL_MOUSEWHEEL: {
                Sint32 turn = e.wheel.y;
                if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) turn = -turn;
                if (turn != 0) mouse_wheel_message(turn);
                break;
            }
            default:
                break;
        }
    }
    return 0;
}

void graphics_shutdown() { graphics_shutdown_status(0); }

void graphics_shutdown_status(int status) {
    if (gl_context) {
        SDL_GL_MakeCurrent(main_window, nullptr);
        SDL_GL_DeleteContext(gl_context);
        gl_context = nullptr;
    }
    // SDL_Quit gives back the desktop's display mode and the pointer.
    if (video_started) SDL_Quit();
    std::exit(status);
}

// SDL 2 deliberately leaves libdbus's process-wide state to the process exit (shutting it down
// could break other users of the library), and Mesa's GLX vendor library and its gallium
// driver keep caches of their own until then (the context is left to the exit). Tell the leak
// checker of sanitizer builds so, by library: none of the game's own allocations is covered.
// Without a sanitizer nothing calls this.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libgallium\nleak:libGLX_mesa.so\n";
}

void* gl_proc_address(const char* name) { return SDL_GL_GetProcAddress(name); }

void swap_window_buffers() {
    if (main_window) SDL_GL_SwapWindow(main_window);
}

namespace {

void sdl_mouse_motion(int* dx, int* dy) {
    int mx = mouse_motion_x, my = mouse_motion_y;
    if (main_window && windowed) {
        // A framed window has a visible pointer: measure from the centre and put it back
        // there, as Win32 does.
        int w = 0, h = 0, px = 0, py = 0;
        SDL_GetWindowSize(main_window, &w, &h);
        SDL_GetMouseState(&px, &py);
        mx = px - w / 2;
        my = py - h / 2;
        SDL_WarpMouseInWindow(main_window, w / 2, h / 2);
    }
    if (dx) *dx = mx;
    if (dy) *dy = my;
    mouse_motion_x = 0;
    mouse_motion_y = 0;
}

}  // namespace

const EventSource os_events = {[] { return window_messages(true); }, sdl_minimised,
                               sdl_raise_topmost, sdl_read_keyboard, sdl_minimise,
                               sdl_mouse_motion, clock_calibrate, 0, 0};
