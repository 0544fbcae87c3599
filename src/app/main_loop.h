#pragma once
// The program's main routine and the simulation values it owns.
#include <cstdint>

#include "scene/advance.h"

// sim_time, frame_time (clamped to at most FRAME_TIME_MAX) and viewer_velocity live with the
// advance pass.
// mouse_buttons as it stood at the end of the previous frame.
extern uint32_t prev_mouse_buttons;
// Chooses the lighting of the scene-lighting hook.
extern unsigned char light_show;
// The player's ship while main_loop runs (null outside it), for observers of a run.
struct Ship;
extern const Ship* player_ship;

constexpr double FRAME_TIME_MAX = 0.05;
// When set, builds the scene around the ship in place of the usual one (the crystal box and
// an asteroid): a scripted run's stress scene. The game leaves it unset.
struct VNode;
extern void (*scene_populate_hook)(VNode* world, const VNode* ship);

// The window's caption.
extern const char* const window_title;

// A raw frame time as the simulation takes it: anything longer than FRAME_TIME_MAX is
// simulated as FRAME_TIME_MAX.
double clamp_frame_time(double raw);

// The light tree's 7442 lights (light_tree_begin, light_tree_add for each, light_tree_end).
void add_tree_lights();

// The scene's lighting, installed as the plot pass's pre-plot hook: one directional light, the
// light tree's 7442 lights while its mode is on, or with light_show (Ctrl+F, tested at every
// plot) eight coloured lights circling.
void set_scene_lights();

// Opens the window, builds the scene and runs frames until the user quits. The command line
// is ignored.
void main_loop(const char* command_line);
