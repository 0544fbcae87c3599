#pragma once
// The work the tree's passes did in the frame, counted exactly: the same for the same script
// on every machine and both platforms, so that a change in a pass's cost can be told apart from
// a change in what it was given to do. Zeroed by VNode_reset_counters with the plot's counters
// (nodes visited and things drawn are the plot's parsed_nodes and things_plotted).

#include <cstdint>

struct PassWork {
    uint32_t sphere_tests;     // swept-sphere tests of the collision pass
    uint32_t cells_touched;    // octree cells its insertions passed through (the gathering of
                               // candidates follows the same paths)
    uint32_t candidate_pairs;  // candidates its detect walk met, a node's own entry included
    uint32_t lights_scored;    // lights the light choice weighed, after the light tree's cut
};

extern PassWork pass_work;
