#include "app/main_loop.h"

#include <cmath>

#include "app/overlays.h"
#include "app/scenario.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "foundation/memory.h"
#include "platform/errorlog.h"
#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/screenshot.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "scene/lights.h"
#include "scene/plot.h"

uint32_t prev_mouse_buttons = 0;
unsigned char light_show = 0;
const Ship* player_ship = nullptr;
const char* const window_title = "Zibu";
void (*scene_populate_hook)(VNode* world, const VNode* ship) = nullptr;

double clamp_frame_time(double raw) { return raw > FRAME_TIME_MAX ? FRAME_TIME_MAX : raw; }

namespace {

constexpr double STEREO_EYE_SEPARATION = 0.07;
constexpr double STEREO_SCREEN_SCALE = 0.00025;

// What the loop keeps from frame to frame.
struct Loop {
    VNode* world;
    Ship* ship;
    double last;           // clock reading at the end of the previous frame's first step
    double raw_frame_time;  // this frame's, unclamped
    double last_measured;   // the same moment by the profiler's clock
    double measured_frame_time;  // this frame's by that clock, for the diagnostics
    GLuint plot_list;      // the captured plot, 0 until L has been held
    unsigned char wireframe, anaglyph, diagnostics, world_paused;
    float menu_fade;       // opacity of the title menu, 0..1
};

void start_up_scene(Loop* loop) {
    loop->world = World_create(0.0, 0.0, 0.0, nullptr);
    loop->ship = ship_create(20.0, 20.0, 20.0, loop->world);
    player_ship = loop->ship;
    if (scene_populate_hook) {
        scene_populate_hook(loop->world, loop->ship);
    } else {
        scene_populate(loop->world);
    }
}

// The edge-triggered keys of the loop, read once per frame.
void handle_keys(Loop* loop) {
    if (key_pressed('I')) loop->wireframe ^= 1;
    glPolygonMode(GL_FRONT_AND_BACK, loop->wireframe ? GL_LINE : GL_FILL);
    if (key_pressed('V')) {
        if (light_tree_mode) {
            light_tree_off();
        } else {
            light_tree_on();
        }
    }
    if (key_pressed('3')) loop->anaglyph ^= 1;
    if (key_pressed('K')) loop->diagnostics ^= 1;
    if (key_pressed('P')) loop->world_paused ^= 1;
    if (ctrl_pressed('D')) loop->ship->charge_rate = SHIP_FAST_CHARGE_RATE;
}

void plot_scene(Loop* loop) {
    if (loop->plot_list == 0) {
        if (key_held('L')) {
            loop->plot_list = glGenLists(1);
            // Commands inside a list being compiled are not carried out, so the viewer's
            // matrix is loaded first: the plot's camera, culling and transparent order then
            // see the view the list will show.
            camera_from_frame(&loop->ship->frame->current);
            glNewList(loop->plot_list, GL_COMPILE);
            VNode_plot_from(loop->world, loop->ship);
            glEndList();
        }
        if (loop->anaglyph) {
            VNode_plot_stereo(loop->world, loop->ship, STEREO_EYE_SEPARATION, STEREO_SCREEN_SCALE);
        } else {
            VNode_plot_from(loop->world, loop->ship);
        }
        live_plot_views(loop->world, loop->ship, &loop->menu_fade);
    }
    if (loop->plot_list != 0) glCallList(loop->plot_list);
}

void frame(Loop* loop) {
    const double now = clock_seconds();
    loop->raw_frame_time = now - loop->last;
    loop->last = now;
    frame_time = clamp_frame_time(loop->raw_frame_time);
    // The same unless a scripted run measures real durations while it steps by the script.
    const double measured_now = profile_clock();
    loop->measured_frame_time = measured_now - loop->last_measured;
    loop->last_measured = measured_now;

    profile_section("VNode_resetcounters et al.", 0x808080);
    handle_keys(loop);
    viewer_velocity = loop->ship->velocity;
    VNode_reset_counters();

    profile_section("VNode_rememberrefframes", 0xc0c0c0);
    VNode_remember_frames(loop->world);

    // While the world is paused only the ship (and what hangs under it) moves on.
    const double step = (1.0 - loop->menu_fade) * frame_time;
    profile_section("VNode_advance", 0xc000ff);
    VNode_advance_tree(loop->world_paused ? static_cast<VNode*>(loop->ship) : loop->world, step);

    profile_section("VNode_collide:new", 0xffffff);
    if (!loop->world_paused) sim_time += step;
    VNode_collide(loop->world);

    profile_section("VNode_plot", 0x00c0ff);
    plot_scene(loop);

    profile_section("diags", 0xa0a0a0);
    tree_diagram_overlay(loop->world);
    // The diagnostics overlay shows and closes the frame's profiler marks; without it they
    // are dropped.
    if (loop->diagnostics) {
        diagnostics_overlay(loop->measured_frame_time);
    } else {
        profile_section(nullptr, 0);
    }

    if (ctrl_pressed('S')) screenshot();
    end_frame(0);
    prev_mouse_buttons = mouse_buttons;
}

}  // namespace

// Two sheets over a gently waved grid.
void add_tree_lights() {
    const float step = 0.1f;
    light_tree_begin();
    for (float u = 0.0f; u <= 6.001f; u += step) {
        for (float v = 0.0f; v <= 6.001f; v += step) {
            const float h = static_cast<float>(0.2 * std::sin(u) + 0.2 * std::sin(v));
            const float weight = 0.3f * step * step;
            light_tree_add(10.0f * v, 10.0f * (h + 2.0f), 10.0f * u, 0.4f, 0.1f * u + 0.6f, 1.0f,
                           weight);
            light_tree_add(v + 25.0f, 10.0f * (h + 1.0f), u, 1.0f, 0.3f, 0.0f, weight);
        }
    }
    light_tree_end();
}

namespace {

// Eight coloured lights circling in the plane x = 20, half a second apart.
void add_light_show() {
    for (float i = 1.0f; i <= 8.0f; i += 1.0f) {
        const float a = static_cast<float>(std::fmod(clock_seconds() + 0.5 * i, 6.283185307179586));
        light_point(20.0f, 15.0f * std::cos(a) + 20.0f, 70.0f * std::sin(a) + 80.0f,
                    0.5f + 0.5f * std::sin(i), 0.5f + 0.5f * std::cos(i), 0.5f - 0.5f * std::sin(i),
                    10.0f);
    }
}

}  // namespace

void set_scene_lights() {
    lights_off();
    if (ctrl_pressed('F')) light_show ^= 1;
    if (light_tree_mode) {
        lights_ambient(0.065f, 0.085f, 0.075f);
        add_tree_lights();
    } else if (light_show) {
        lights_ambient(0.065f, 0.085f, 0.075f);
        add_light_show();
    } else {
        lights_ambient(0.2f, 0.2f, 0.2f);
        light_directional(0.7f, 1.0f, 0.3f, 0.8f, 0.8f, 0.8f);
    }
}

void main_loop(const char* /*command_line*/) {
    // Allocation failures anywhere are logged and shown like every other fatal error.
    set_fatal_handler(fatal_error);
    flat_projection = 0;  // the perspective projection throughout
    if (!graphics_open(windowed ? 1024 : 0, windowed ? 768 : 0, window_title)) return;
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);

    Loop loop{};
    start_up_scene(&loop);
    lights_start();
    pre_plot_hook = set_scene_lights;
    mouse_look(nullptr, nullptr);  // centre the cursor

    loop.last = clock_seconds();
    loop.last_measured = profile_clock();
    sim_time = 0.0;
    frame_time = 0.0;
    if (screen_width == 0) {
        fatal_error("GRAPHICS() macro not called at LOOP start, or no resolution specified");
    }
    graphics_pump();

    bool quit = false;
    while (!quit) {
        frame(&loop);
        quit = graphics_pump() == 1 || key_held('Q') || key_held(KEY_ESCAPE);
    }
    player_ship = nullptr;
    VNode_destroy(loop.world);
    // The context itself is left to the process exit, but the driver's copy of a captured
    // plot lives in memory it would otherwise never give back (leak checkers report it).
    if (loop.plot_list != 0) glDeleteLists(loop.plot_list, 1);
}
