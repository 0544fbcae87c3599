#include "app/stress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/ship.h"
#include "foundation/random.h"
#include "foundation/util.h"
#include "things/asteroid.h"

namespace {

constexpr double RADIUS_LEAST = 0.3;
constexpr double RADIUS_RANGE = 1.2;
constexpr double SHIP_CLEARANCE = SHIP_RADIUS + 1.0;  // room between the ship and any rock
constexpr int ORDER_BITS = 10;                         // per axis, for the Z-order key

struct Rock {
    double x, y, z, radius;
    uint32_t key;  // the place on the Z-order curve
};

uint32_t spread_bits(uint32_t v) {
    uint32_t out = 0;
    for (int i = 0; i < ORDER_BITS; i++) out |= ((v >> i) & 1u) << (3 * i);
    return out;
}

uint32_t cell_of(double v, double low, double side) {
    const double cells = static_cast<double>(1u << ORDER_BITS);
    const double c = std::floor((v - low) / side * cells);
    return c < 0.0 ? 0u : c >= cells ? (1u << ORDER_BITS) - 1 : static_cast<uint32_t>(c);
}

struct Builder {
    const std::vector<Rock>* rocks;
    uint32_t depth;
    uint32_t fan_out;

    // Hangs rocks [begin, end) under parent, which stands level levels below the world.
    void hang(VNode* parent, uint32_t level, uint32_t begin, uint32_t end) const {
        if (level + 1 == depth) {
            for (uint32_t i = begin; i < end; i++) {
                const Rock& r = (*rocks)[i];
                asteroid_create(r.x, r.y, r.z, r.radius, parent);
            }
            return;
        }
        // A group on the next level holds at most fan_out rocks for each level from it down
        // to the rocks' own: fan_out^(depth - level - 1).
        uint64_t room = 1;
        for (uint32_t levels = depth - level - 1; levels > 0; levels--) room *= fan_out;
        const uint64_t count = end - begin;
        const uint64_t groups = (count + room - 1) / room;
        for (uint64_t g = 0; g < groups; g++) {
            const auto first = static_cast<uint32_t>(begin + count * g / groups);
            const auto last = static_cast<uint32_t>(begin + count * (g + 1) / groups);
            hang(Group_create(parent), level + 1, first, last);
        }
    }
};

}  // namespace

// Newton's steps from above, in plain arithmetic only: the C runtimes' cube roots may differ
// in the last bit, and the scene must be the same on every platform.
double stress_cube_side(uint32_t count) {
    const double volume = STRESS_VOLUME_PER_ASTEROID * static_cast<double>(count);
    double side = volume > 1.0 ? volume : 1.0;
    for (;;) {
        const double next = (2.0 * side + volume / (side * side)) / 3.0;
        if (!(next < side)) return side;
        side = next;
    }
}

bool stress_parse_setting(const ScriptToken* args, size_t count, void* out,
                          char why[SCRIPT_WHY_SIZE]) {
    StressRequest r{0, 0, STRESS_SEED_DEFAULT};
    if ((count != 2 && count != 3) || !script_parse_count(args[0], STRESS_COUNT_MAX, &r.count) ||
        !script_parse_count(args[1], STRESS_DEPTH_MAX, &r.depth) ||
        (count == 3 && !script_parse_count(args[2], UINT32_MAX, &r.seed)) || r.count == 0 ||
        r.depth == 0) {
        std::snprintf(why, SCRIPT_WHY_SIZE,
                      "expected \"stress N DEPTH [SEED]\" (N 1 to %u, DEPTH 1 to %u)",
                      STRESS_COUNT_MAX, STRESS_DEPTH_MAX);
        return false;
    }
    *static_cast<StressRequest*>(out) = r;
    return true;
}

uint32_t stress_fan_out(uint32_t count, uint32_t depth) {
    // No power of a depth of 0 reaches more than one leaf (and 1 / 0 has no integer root).
    if (depth == 0) return 0;
    auto reaches = [&](uint64_t f) {
        uint64_t p = 1;
        for (uint32_t i = 0; i < depth && p < count; i++) p *= f;
        return p >= count;
    };
    auto f = static_cast<uint64_t>(std::pow(static_cast<double>(count), 1.0 / depth));
    if (f < 1) f = 1;
    while (f > 1 && reaches(f - 1)) f--;
    while (!reaches(f)) f++;
    return static_cast<uint32_t>(f);
}

bool stress_populate(VNode* world, const VNode* ship, uint32_t count, uint32_t depth,
                     uint32_t seed) {
    if (count == 0 || count > STRESS_COUNT_MAX || depth == 0 || depth > STRESS_DEPTH_MAX) {
        return false;
    }
    zibu_rand_reset(seed);
    const double side = stress_cube_side(count);
    // Read from the frame: a ship just made has not been through a pass yet.
    const Vec3 c = frame_point_to_world(&ship->frame->current, ship->bound.centre.x,
                                        ship->bound.centre.y, ship->bound.centre.z);
    const double low_x = c.x - side / 2, low_y = c.y - side / 2, low_z = c.z - side / 2;
    std::vector<Rock> rocks(count);
    for (Rock& r : rocks) {
        r.radius = RADIUS_LEAST + random_real(RADIUS_RANGE);
        do {
            r.x = low_x + random_real(side);
            r.y = low_y + random_real(side);
            r.z = low_z + random_real(side);
        } while (vec3_dist2(Vec3{r.x, r.y, r.z}, c) < sq(SHIP_CLEARANCE + r.radius));
        r.key = spread_bits(cell_of(r.x, low_x, side)) |
                spread_bits(cell_of(r.y, low_y, side)) << 1 |
                spread_bits(cell_of(r.z, low_z, side)) << 2;
    }
    // Equal keys keep the order they were drawn in: the same tree on every C++ library.
    std::stable_sort(rocks.begin(), rocks.end(),
                     [](const Rock& a, const Rock& b) { return a.key < b.key; });
    const Builder builder{&rocks, depth, stress_fan_out(count, depth)};
    builder.hang(world, 0, 0, count);
    return true;
}
