#pragma once
// What the main loop shows on request over the plotted scene: the held views inside the live
// plot (J, N, B, T), the tree diagram (Ctrl+T) and the diagnostics overlay (K), which also
// appends the frame's timings to "times.log".

#include "scene/vnode.h"

// The views drawn inside the live plot, while their keys are held, in this order: J the cross of
// the six cube-face views; N the mirrored sphere at (20, 20, 50); B the bounding spheres of the
// world and its children (Shift adds theirs) and the world's bounds text; T fades the title
// menu in (released, out), or with the light tree's mode on shows the light tree instead and
// leaves the fade as it is. The menu is drawn while menu_fade is above 0.
void live_plot_views(VNode* world, VNode* viewer, float* menu_fade);

// The tree diagram is shown. Ctrl+T toggles it; it lives for the run.
extern unsigned char tree_stats;

// The timing file: one line per frame while the diagnostics are on, in the working folder.
extern const char* const times_log_name;

// Ctrl+T toggles tree_stats; while it is set, the diagram of the world's tree over the right
// three quarters of the screen.
void tree_diagram_overlay(const VNode* world);

// The diagnostics of this frame: the tree's counters, the profiler's graph (which closes the
// frame's sections), the raw (unclamped) frame time and the viewer's position, the frame's
// line in "times.log" and its events in "trace.json" (platform/trace.h). What cannot be
// written is dropped; the game goes on.
void diagnostics_overlay(double raw_frame_time);
