#pragma once
// The collision benchmarks' scene: N spheres moving in a cube, each with about
// two contacts a frame. One frame moves every sphere by its velocity and
// remembers where it started, as the game's cycle does before the pass.

#include <cmath>
#include <numbers>

#include "foundation/random.h"
#include "scene/advance.h"
#include "scene/collide.h"

namespace collide_scene {

// Spheres bounce off the walls of the cube [0, side]^3.
inline double side = 0.0;

inline void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    double* m = t->frame->current.m;
    double* v[3] = {&t->velocity.x, &t->velocity.y, &t->velocity.z};
    for (int a = 0; a < 3; a++) {
        double p = m[12 + a] + *v[a] * dt;
        if (p < 0.0) p = -p, *v[a] = -*v[a];
        if (p > side) p = 2.0 * side - p, *v[a] = -*v[a];
        m[12 + a] = p;
    }
}

inline double uniform(double lo, double hi) { return lo + random_real(hi - lo); }

inline Vec3 random_direction() {
    for (;;) {
        Vec3 d = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
        double l = vec3_len(d);
        if (l > 0.1 && l <= 1.0) return vec3_scale(d, 1.0 / l);
    }
}

// Radius 0.5 to 2; a speed of 0.1 to 1 radius a frame (slow) or 1 to 10 (fast).
struct Ball {
    double radius;
    Vec3 velocity;
};

inline Ball random_ball(bool fast) {
    Ball b;
    b.radius = uniform(0.5, 2.0);
    b.velocity = vec3_scale(random_direction(), b.radius * (fast ? uniform(1, 10) : uniform(0.1, 1)));
    return b;
}

// The cube that gives each sphere about two contacts a frame: two spheres
// touch during a frame when one sweeps through the other's reach R (their
// radii summed), a volume of 4/3 pi R^3 + pi R^2 |relative motion|. With
// N (N - 1) / 2 pairs in the cube, N of them should touch.
inline double cube_side(int count, bool fast) {
    const int samples = 20000;
    double volume = 0.0;
    for (int i = 0; i < samples; i++) {
        Ball a = random_ball(fast), b = random_ball(fast);
        double reach = a.radius + b.radius;
        double motion = vec3_len(vec3_sub(a.velocity, b.velocity));
        volume += std::numbers::pi * reach * reach * (4.0 / 3.0 * reach + motion);
    }
    return std::cbrt((count - 1) / 2.0 * volume / samples);
}

// The spheres hang straight on the world, all of the given type (whose
// advance should be ball_advance).
inline VNode* make_scene(int count, bool fast, const ThingType* type) {
    zibu_rand_reset(1);
    side = cube_side(count, fast);
    VNode* world = World_create(0, 0, 0, nullptr);
    for (int i = 0; i < count; i++) {
        Ball b = random_ball(fast);
        Thing* t = VNode_create_thing(type, world);
        VNode_take_frame(t, nullptr);
        frame_translate(&t->frame->current, uniform(0, side), uniform(0, side), uniform(0, side));
        t->bound.radius = b.radius;
        t->velocity = b.velocity;
    }
    VNode_advance_tree(world, 0.0);
    VNode_remember_frames(world);
    return world;
}

inline void next_frame(VNode* world) {
    VNode_remember_frames(world);
    VNode_advance_tree(world, 1.0);
}

}  // namespace collide_scene
