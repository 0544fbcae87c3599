#pragma once
// The first two passes of every cycle: remembering where each node stands,
// then advancing each node by the frame time.

#include "scene/vnode.h"

// Pre-order over the subtree: owned frames copy current into previous, and
// world_centre = start_centre = the bound centre in world coordinates.
void VNode_remember_frames(VNode* node);

// Advances the subtree by dt seconds in each node's advance order, with
// removals deferred until the whole subtree has been advanced.
void VNode_advance_tree(VNode* node, double dt);
