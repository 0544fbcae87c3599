#include "platform/scriptplay.h"

#include <chrono>
#include <cstring>

#include "platform/profile.h"
#include "platform/window.h"

namespace {

constexpr double STEP_DEFAULT = 1.0 / 60.0;

using RealTime = std::chrono::steady_clock::time_point;

struct Player {
    const Script* script;
    uint32_t next;     // the first event not yet played
    uint32_t pumps;    // pumps so far; the frame running now is pumps - 1
    unsigned char keys[256];
    uint32_t buttons;  // mouse bits of the buttons down
    int motion_x, motion_y;
    double sim_now, step;
    bool sim_real;  // the simulation's clock follows real time from sim_real_start on
    RealTime sim_real_start;
};

Player player;

// The profiler's clock in a run timed by real time: seconds since the run began.
RealTime profile_real_start;
double profile_real_seconds() {
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - profile_real_start;
    return since.count();
}

void play_event(const ScriptEvent& e) {
    switch (e.verb) {
        case ScriptVerb::down: player.keys[e.a] = 0x80; break;
        case ScriptVerb::up: player.keys[e.a] = 0; break;
        case ScriptVerb::mouse:
            player.motion_x += e.a;
            player.motion_y += e.b;
            mouse_button_message(player.buttons);
            break;
        case ScriptVerb::button:
            player.buttons = e.b ? player.buttons | static_cast<uint32_t>(e.a)
                                 : player.buttons & ~static_cast<uint32_t>(e.a);
            mouse_button_message(player.buttons);
            break;
        case ScriptVerb::wheel: mouse_wheel_message(e.a); break;
        case ScriptVerb::step: player.step = e.seconds; break;
        case ScriptVerb::shot:
        case ScriptVerb::quit: break;
    }
}

// The real window still gets its messages handled; only their input is left out.
int play_messages() {
    if (window_messages(false) == 1) return 1;
    const uint32_t frame = player.pumps++;
    if (frame > player.script->last_frame) return 1;
    // Centring the pointer at start-up is a move with no button down, as on the desktop.
    if (frame == 0) mouse_button_message(player.buttons);
    const ScriptEvent* events = DynArray_items<ScriptEvent>(&player.script->events);
    for (; player.next < player.script->events.count && events[player.next].frame == frame;
         player.next++) {
        play_event(events[player.next]);
    }
    if (!player.sim_real) player.sim_now += player.step;
    return 0;
}

// As GetKeyboardState: the mouse buttons are keys too (1 left, 2 right, 4 middle).
void play_keyboard(unsigned char out[256]) {
    std::memcpy(out, player.keys, sizeof player.keys);
    if (player.buttons & MOUSE_LEFT) out[0x01] = 0x80;
    if (player.buttons & MOUSE_RIGHT) out[0x02] = 0x80;
    if (player.buttons & MOUSE_MIDDLE) out[0x04] = 0x80;
}

void play_motion(int* dx, int* dy) {
    if (dx) *dx = player.motion_x;
    if (dy) *dy = player.motion_y;
    player.motion_x = player.motion_y = 0;
}

double sim_clock() {
    if (!player.sim_real) return player.sim_now;
    const std::chrono::duration<double> since =
        std::chrono::steady_clock::now() - player.sim_real_start;
    return player.sim_now + since.count();
}

EventSource script_source = {
    play_messages, [] { return false; }, [] {}, play_keyboard, [] {}, play_motion, sim_clock,
    SCRIPT_DEFAULT_WIDTH, SCRIPT_DEFAULT_HEIGHT,
};

}  // namespace

void script_play(const Script* script) {
    player = Player{};
    player.script = script;
    player.step = STEP_DEFAULT;
    script_source.fixed_width = script->width;
    script_source.fixed_height = script->height;
    event_source_use(&script_source);
    profile_real_start = std::chrono::steady_clock::now();
    profile_clock = script->profile_clock_real ? profile_real_seconds : profile_clock_default;
}

uint32_t script_frame() { return player.pumps > 0 ? player.pumps - 1 : 0; }

void script_sim_clock_follow_real() {
    player.sim_now = sim_clock();
    player.sim_real = true;
    player.sim_real_start = std::chrono::steady_clock::now();
}
