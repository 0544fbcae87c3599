#pragma once
// Smoke puffs: a few grey, randomly turned cloud sprites that drift out from a
// common centre, grow and fade away over four seconds. Transparent, never
// collided. Also home of the particle record and the camera-facing sprite that
// explosions share.

#include <cstdint>

#include "foundation/vec3.h"
#include "scene/vnode.h"

// One sprite of a smoke puff or an explosion.
struct Particle {
    Vec3f drift;       // offset per second of age from the centre
    float turn[2];     // (cos phi, sin phi) * size: the sprite's rotation and size
    uint8_t colour[3]; // red, green, blue (all equal for smoke)
};

struct Smoke : Thing {
    int32_t count;
    Particle* particles;  // owned, count records
    float age;            // seconds since creation
    float life;           // 4 seconds
    float sprite_size;    // the sprites' half-width is sprite_size * sqrt(age)
    float expansion;      // outward drift speed, units per second
};

extern const ThingType smoke_type;

// The cloud sprite's texture: 0 until the first smoke plot builds it; kept for the run.
extern unsigned smoke_sprite;

// A puff centred at (x, y, z) in parent's coordinates with a zero velocity
// (set it afterwards to make the puff travel). A negative count makes none.
Smoke* smoke_create(double x, double y, double z, int32_t count, float sprite_size,
                    float expansion, VNode* parent);
void smoke_advance(VNode* node, double dt);
void smoke_plot(VNode* node);
void smoke_free(VNode* node);

// Opacity of all the puff's sprites: 255 at birth, falling quadratically to 0 at
// the end of its life.
uint8_t smoke_alpha(const Smoke* smoke);

// Makes a particle cloud thing of the given type under parent: its own frame at
// (x, y, z), transparent, never collided, and placed at once, so that a cloud made
// mid-cycle is sorted and culled where it is.
Thing* particle_thing_create(const ThingType* type, double x, double y, double z, VNode* parent);

// Corners of a camera-facing square centred at p, in the order sprite_quad
// emits them (texture coordinates (0,0), (0,1), (1,1), (1,0)): with R and U the
// camera's right and up axes, the corners are p -A -B, p -A +B, p +A +B, p +A -B
// for A = uR + vU and B = uU - vR: a square turned by the angle of (u, v) whose
// half-width is sqrt(u^2 + v^2).
void sprite_corners(Vec3f p, float u, float v, Vec3f corners[4]);
// Emits that square (texture coordinate, then vertex, four times) into a
// glBegin(GL_QUADS) block the caller opened. Reads g_camera.view.
void sprite_quad(float px, float py, float pz, float u, float v);
