#pragma once
// The collision pass: every pair of nodes whose swept bounding spheres touched
// during the cycle is handed to the nodes' types.
//
// Each node sweeps its sphere from start_centre to world_centre. Candidate
// pairs come from a loose octree over the world's swept box, rebuilt every
// cycle in a pool of cells kept from cycle to cycle. A contact is reported
// from the side of every node whose query meets the other, each time with both
// calls, the visiting node's first; a pair of very different sizes is met only
// from the smaller node's side.

#include <cstdint>

#include "scene/vnode.h"

// The whole pass over the world's subtree. Nodes with VN_NO_COLLIDE are
// neither entered nor tested (their children are). Removals made by the
// types' collide operations are deferred until detection ends. A collide
// operation may change the spheres (bound radius, centres) of the two nodes
// it is handed, and the rest of the pass tests them as changed; changes it
// makes to the spheres of other nodes may go unseen until the next pass. A
// NaN in the world's swept box is a fatal error.
void VNode_collide(VNode* world);

// The swept-sphere test: true when the spheres of a and b (their bound radii)
// came within touching distance at some moment of the straight relative motion
// from the start centres to the world centres. Symmetric in a and b.
bool VNode_swept_hit(const VNode* a, const VNode* b);

// Figures of the pool, for diagnostics and benchmarks.
struct CollideStats {
    uint32_t pool_capacity;  // the pool's capacity in cells (never shrinks)
    uint32_t cells_used;     // cells the last pass took from the pool
    uint32_t candidates_most;  // largest candidate list of the last pass
};
CollideStats collide_stats();
