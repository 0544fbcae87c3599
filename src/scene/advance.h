#pragma once
// The first two passes of every cycle: remembering where each node stands,
// then advancing each node by the frame time.

#include "foundation/vec3.h"
#include "scene/vnode.h"

// The simulation values the main loop sets every frame and things read while they advance
// and plot.
// Simulation clock in seconds: 0 at start, advanced once per frame.
extern double sim_time;
// Duration of the last frame in seconds, clamped by the main loop.
extern double frame_time;
// The viewer's velocity, copied every frame before the passes run (bullet streaks are drawn
// relative to it).
extern Vec3 viewer_velocity;

// Pre-order over the subtree: owned frames copy current into previous, and
// world_centre = start_centre = the bound centre in world coordinates.
void VNode_remember_frames(VNode* node);

// Advances the subtree by dt seconds in each node's advance order, with
// removals deferred until the whole subtree has been advanced.
void VNode_advance_tree(VNode* node, double dt);
