#pragma once
// Explosions: a brief burst of glowing sprites that fly out from a centre and
// shrink to nothing, gone after one second (or the life the creator sets).
// Transparent, never collided, drawn additively.

#include <cstdint>

#include "scene/vnode.h"
#include "things/smoke.h"

struct Splode : Thing {
    int32_t count;
    Particle* particles;  // owned, count records
    float age;            // seconds since creation
    float life;           // 1 second at creation; the creator may shorten it
    float start_radius;   // bounding radius at age 0, and each sprite's size at creation
    float expansion;      // growth of the bounding radius per second (>= 0)
    unsigned texture;     // the sprite
    uint8_t owns_texture; // set: the texture is deleted with the explosion
    uint8_t flash;        // set: each sprite's size flickers from frame to frame
};

extern const ThingType splode_type;

// A burst at (x, y, z) in parent's coordinates moving at (vx, vy, vz). With a
// positive speed the particles' drifts fill a ball of that radius; with zero or
// a negative speed they all have length |speed| (a shell). A negative count
// makes no particles.
Splode* splode_create(double x, double y, double z, double vx, double vy, double vz,
                      int32_t count, float size, float speed, unsigned texture, VNode* parent);
// A burst at node's world centre, under its parent, with its velocity (zero
// for a node that has none).
Splode* splode_at(VNode* node, int32_t count, float size, float speed, unsigned texture);
// Each particle's size (or drift) times its own log-uniform factor between
// low and high (both positive); the start radius (or expansion) grows by the
// larger of the two so the bounding sphere still covers every sprite.
void splode_vary_size(Splode* e, double low, double high);
void splode_vary_speed(Splode* e, double low, double high);
void splode_tint(Splode* e, uint8_t r, uint8_t g, uint8_t b);

// Size factor of every sprite now: falls quadratically from 1 to 0 over the life.
float splode_scale(const Splode* e);

// The sprite: size x size RGB bytes, rows padded to 4 bytes, core colour at the
// centre blending to middle at a quarter of the radius, to outer at half, then
// to black at the edge. Colours are 0xRRGGBB. Release with checked_free.
unsigned char* splode_texture_image(int32_t size, uint32_t outer, uint32_t middle, uint32_t core);
// The same image uploaded as a mipmapped GL_TEXTURE_2D; returns its name.
unsigned splode_texture(int32_t size, uint32_t outer, uint32_t middle, uint32_t core);

void splode_advance(VNode* node, double dt);
void splode_plot(VNode* node);
void splode_free(VNode* node);
