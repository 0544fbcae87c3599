#pragma once
// The plot pass: draws the tree as the camera sees it.
//
// Whole subtrees are rejected by one sphere test against the view pyramid.
// Opaque things are drawn as they are met (children before their parent,
// the last child first), touching the matrix stack only when the frame
// changes; transparent things are collected and drawn afterwards from the
// farthest to the nearest. Every matrix the pass pushes is popped before it
// returns.

#include <cstdint>

#include "scene/vnode.h"

// Counters for the statistics. They accumulate over every plot of a cycle
// (stereo eyes, cube faces) until VNode_reset_counters.
extern uint32_t parsed_nodes;          // visits, culled or not
extern uint32_t leaf_nodes;            // visited, not culled, childless
extern uint32_t max_node_depth;        // deepest visit (the root is depth 0)
extern uint32_t things_plotted;        // opaque plot operations called
extern uint32_t transparents_plotted;  // transparent plot operations called
extern uint32_t plot_depth;            // depth of the node being visited

// The frame whose matrix the pass has pushed, or null when it has pushed none.
extern Frame* loaded_frame;

// Called at the start of every plot when set (the scene's lighting).
extern void (*pre_plot_hook)();

// A pathological tree stops being walked here.
constexpr uint32_t PLOT_MAX_VISITS = 10000001;
constexpr uint32_t PLOT_MAX_DEPTH = 1001;

// Key held to narrow the culling view for inspection (X).
constexpr int KEY_NARROW_CULL = 0x58;

void VNode_reset_counters();

// True when the node's bounding sphere lies wholly outside the camera's view
// pyramid (sides and behind the eye; there is no near or far plane).
bool VNode_cull(const VNode* node);

// One plot of the tree with the current camera.
void VNode_plot(VNode* root);

// Sets the camera from the viewer's frame and plots the root. While X is held
// culling uses a pyramid of half the width and height, drawn as a green
// border, while the projection still draws the whole view.
void VNode_plot_from(VNode* root, VNode* viewer);

// Red/cyan stereo: plots once per eye with the eyes eye_separation apart and
// the frustum sheared by eye_separation / (screen_scale x screen width), then
// adds the two pictures over the screen in red and cyan.
void VNode_plot_stereo(VNode* root, VNode* viewer, double eye_separation, double screen_scale);
