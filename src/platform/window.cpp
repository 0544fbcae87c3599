#include "platform/window.h"

#include "platform/framecycle.h"
#include "platform/opengl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int screen_width = 0;
int screen_height = 0;
const unsigned char windowed = ZIBU_WINDOWED;

unsigned char key_state[256];
unsigned char key_state_before[256];
uint32_t mouse_buttons = 0;
int32_t mouse_latch = 1;
unsigned char alt_tab_minimised = 0;
const EventSource* event_source = &os_events;

void event_source_use(const EventSource* source) {
    event_source = source;
    clock_seconds = source->clock;
}

int graphics_pump() {
    pump_begin();
    if (event_source->messages() == 1) return 1;
    return pump_after_messages(*event_source);
}

void mouse_look(int* dx, int* dy) { event_source->mouse_motion(dx, dy); }

void input_reset() {
    std::memset(key_state, 0, sizeof key_state);
    std::memset(key_state_before, 0, sizeof key_state_before);
}

void pump_begin() { mouse_buttons &= ~(MOUSE_WHEEL_AWAY | MOUSE_WHEEL_TOWARDS); }

int pump_after_messages(const EventSource& source) {
    if (source.minimised()) {
        // The keyboard arrays keep their last values while minimised.
        alt_tab_minimised = 0;
        return 0;
    }
    if (!alt_tab_minimised && !windowed) source.raise_topmost();

    std::memcpy(key_state_before, key_state, sizeof key_state);
    source.read_keyboard(key_state);

    if ((key_state[KEY_MENU] & 0x80) && (key_state[KEY_TAB] & 0x80)) alt_tab_minimised = 1;
    if (alt_tab_minimised) source.minimise();
    return 0;
}

void mouse_button_message(uint32_t buttons) {
    uint32_t b = buttons & MOUSE_BUTTON_BITS;
    if (b == 0) mouse_latch = 0;
    // Assigning also drops wheel bits gathered earlier in this pump.
    if (!mouse_latch) mouse_buttons = b;
}

void mouse_wheel_message(int32_t delta) {
    mouse_buttons |= delta > 0 ? MOUSE_WHEEL_AWAY : MOUSE_WHEEL_TOWARDS;
}

float gl_version() {
    const char* v = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return v ? static_cast<float>(std::strtod(v, nullptr)) : 0.0f;
}

void gl_context_report(const char* how) {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    std::fprintf(stderr, "Zibu: OpenGL %s on %s (asked for %s)\n", version ? version : "?",
                 renderer ? renderer : "?", how);
    std::fflush(stderr);  // stderr may be buffered when it is not a console (Windows)
}

void anisotropy_max_on_bound_texture() {
    static int has_extension = -1;
    static float maximum = 0.0f;
    if (has_extension < 0) {
        const char* ext = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        has_extension = ext && std::strstr(ext, "GL_EXT_texture_filter_anisotropic") ? 1 : 0;
    }
    if (has_extension != 1) return;
    if (maximum == 0.0f) glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maximum);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, maximum);
}
