#include "app/main_loop.h"

#include "foundation/memory.h"
#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/screenshot.h"
#include "platform/window.h"

double sim_time = 0.0;
double frame_time = 0.0;
Vec3 viewer_velocity = {0.0, 0.0, 0.0};
uint32_t prev_mouse_buttons = 0;
unsigned char light_show = 0;
const char* const window_title = "Zibu";

double clamp_frame_time(double raw) { return raw > FRAME_TIME_MAX ? FRAME_TIME_MAX : raw; }

void main_loop(const char* /*command_line*/) {
    // Start-up. Allocation failures anywhere are logged and shown like every other fatal error.
    set_fatal_handler(fatal_error);
    flat_projection = 0;  // the perspective projection throughout
    if (!graphics_open(windowed ? 1024 : 0, windowed ? 768 : 0, window_title)) return;

    // Still to come here, in this order: the built-in font, the world and the ship, the rest
    // of the scene, the lights, the scene-lighting hook, and centring the cursor.

    double last = clock_seconds();
    sim_time = 0.0;
    frame_time = 0.0;
    // The display-list capture, the toggles and the menu fade start here too.

    if (screen_width == 0) {
        fatal_error("GRAPHICS() macro not called at LOOP start, or no resolution specified");
    }
    graphics_pump();

    bool quit = false;
    while (!quit) {
        const double now = clock_seconds();
        const double raw = now - last;
        last = now;
        frame_time = clamp_frame_time(raw);

        // Still to come here: the edge-triggered keys, the viewer velocity, the tree passes
        // (remember frames, advance, collide, plot) in their profiler sections, the views
        // inside the live plot, the tree diagram and the diagnostics overlay.

        if (ctrl_pressed('S')) screenshot();

        end_frame(0);
        prev_mouse_buttons = mouse_buttons;
        quit = graphics_pump() == 1 || key_held('Q') || key_held(KEY_ESCAPE);
    }

    // Still to come here: destroying the world's tree.
}
