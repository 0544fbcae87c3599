#pragma once
// Stress scenes: the world filled with many asteroids under plain groups, for watching how the
// tree's passes grow with the tree.

#include <cstdint>

#include "platform/script.h"
#include "scene/vnode.h"

constexpr uint32_t STRESS_COUNT_MAX = 1000000;
constexpr uint32_t STRESS_DEPTH_MAX = 8;
constexpr uint32_t STRESS_SEED_DEFAULT = 1;

// What a script's "0 stress N DEPTH [SEED]" asks for; count 0 when the script has none.
struct StressRequest {
    uint32_t count, depth, seed;
};
// The stress line's arguments into out (a StressRequest): N 1 to STRESS_COUNT_MAX, DEPTH 1 to
// STRESS_DEPTH_MAX, SEED any 32-bit number (STRESS_SEED_DEFAULT when left out). A ScriptSetting's
// parser: ScriptSetting{"stress", stress_parse_setting, &request}.
bool stress_parse_setting(const ScriptToken* args, size_t count, void* out,
                          char why[SCRIPT_WHY_SIZE]);

// Side of the cube that holds count asteroids at one per STRESS_VOLUME_PER_ASTEROID cubic units.
constexpr double STRESS_VOLUME_PER_ASTEROID = 1000.0;
double stress_cube_side(uint32_t count);
// The fan-out of a tree depth levels deep with count leaves: the smallest f with f^depth >= count
// (0 for depth 0, where there is none).
uint32_t stress_fan_out(uint32_t count, uint32_t depth);

// Hangs count asteroids (radius 0.3 to 1.5, the usual random drift) in the world, in a cube of
// stress_cube_side(count) centred on the ship and clear of it, with the random generator
// restarted from seed. Neighbours share a group: the asteroids are ordered along a Z-order curve
// through the cube and cut into runs, each level into at most stress_fan_out runs, so that the
// asteroids sit depth levels below the world (straight on it for depth 1). Returns false, having
// added nothing, unless count is 1 to STRESS_COUNT_MAX and depth 1 to STRESS_DEPTH_MAX.
[[nodiscard]] bool stress_populate(VNode* world, const VNode* ship, uint32_t count, uint32_t depth,
                                   uint32_t seed);
