#pragma once
// What the main loop shows about the running system on request, over the plotted scene: the
// tree diagram (Ctrl+T) and the diagnostics overlay (K), which also appends the frame's
// timings to "times.log".

#include "scene/vnode.h"

// The tree diagram is shown. Ctrl+T toggles it; it lives for the run.
extern unsigned char tree_stats;

// The timing file: one line per frame while the diagnostics are on, in the working folder.
extern const char* const times_log_name;

// Ctrl+T toggles tree_stats; while it is set, the diagram of the world's tree over the right
// three quarters of the screen.
void tree_diagram_overlay(const VNode* world);

// The diagnostics of this frame: the tree's counters, the profiler's graph (which closes the
// frame's sections), the raw (unclamped) frame time and the viewer's position, and the frame's
// line in "times.log". A line that cannot be written is dropped; the game goes on.
void diagnostics_overlay(double raw_frame_time);
