#pragma once
// Stress scenes: the world filled with many asteroids under plain groups, for watching how the
// tree's passes grow with the tree.

#include <cstdint>

#include "scene/vnode.h"

// Side of the cube that holds count asteroids at one per STRESS_VOLUME_PER_ASTEROID cubic units.
constexpr double STRESS_VOLUME_PER_ASTEROID = 1000.0;
double stress_cube_side(uint32_t count);
// The fan-out of a tree depth levels deep with count leaves: the smallest f with f^depth >= count.
uint32_t stress_fan_out(uint32_t count, uint32_t depth);

// Hangs count asteroids (radius 0.3 to 1.5, the usual random drift) in the world, in a cube of
// stress_cube_side(count) centred on the ship and clear of it, with the random generator
// restarted from seed. Neighbours share a group: the asteroids are ordered along a Z-order curve
// through the cube and cut into runs, each level into at most stress_fan_out runs, so that the
// asteroids sit depth levels below the world (straight on it for depth 1).
void stress_populate(VNode* world, const VNode* ship, uint32_t count, uint32_t depth,
                     uint32_t seed);
