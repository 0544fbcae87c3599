#pragma once
// Bullets: small glowing shots flying in a straight line, drawn as velocity-stretched
// streaks. A bullet has no collide operation: whatever it touches asks bullet_hit whether
// the hit counts.
#include <cstdint>

#include "scene/vnode.h"

// A thing whose bullets are counted (the player's ship, of type "Ship"): its bullets and
// their targets credit these tallies without knowing the rest of its record.
struct Shooter : Thing {
    double score;         // credited by its bullets
    int32_t shots;        // bullets fired
    int32_t hits;         // bullets that scored
    int32_t misses;       // bullets that fizzled
    int32_t streak;       // hits since the last miss
    int32_t best_streak;
};

// Whether the node is a Shooter: its type is the one named "Ship".
bool is_shooter(const VNode* node);

// Shares its parent's frame; its position is the centre of its bound.
struct Bullet : Thing {
    Shooter* firing_ship;  // the Ship that fired it, or null when the firer is no Ship
    VNode* owner;       // cannot be hit by the bullet until the bullet has flown clear of it
    double expiry;      // sim_time after which the bullet is removed
    unsigned char spent;  // has hit or fizzled; the hit rule ignores it from then on
};

extern const ThingType bullet_type;

constexpr double BULLET_RADIUS = 0.1;
constexpr double BULLET_LIFETIME = 30.0;
constexpr int BULLET_TEXTURE_SIZE = 32;

// A bullet under parent at (x, y, z) with velocity (vx, vy, vz), both in the parent's
// coordinates. owner may be null.
Bullet* bullet_create(double x, double y, double z, double vx, double vy, double vz,
                      VNode* owner, VNode* parent);
void bullet_advance(VNode* node, double dt);
void bullet_plot(VNode* node);

// Whether bullet striking target counts (1) or not (0). A ship's bullet counts against
// anything but a Ship, any other bullet only against a Ship; a counted hit removes the bullet
// and credits its ship with score, a hit and a longer streak; a hit on the wrong side
// fizzles. The owner, while still set, is never hit.
int bullet_hit(VNode* bullet, VNode* target, double score);
// Removes the bullet as a miss of its ship; 0 when it was already spent.
int bullet_fizzle(VNode* bullet);

// The streak textures: yellow centre, green ring (the firing ship's side), or with the
// channels rotated, magenta and red (every other side). Created on the first bullet plot.
extern unsigned bullet_texture_ship;
extern unsigned bullet_texture_other;
// Fills size x size RGB texels of the streak picture.
void bullet_texture_image(int size, bool other_side, unsigned char* rgb);
// A new mipmapped GL_TEXTURE_2D of that picture, left bound.
unsigned bullet_texture(int size, bool other_side);

// The corners of one streak: three quads (tail cap, head cap, body) of four corners each,
// positions and texture coordinates in drawing order.
struct StreakQuads {
    Vec3f position[12];
    float tex[12][2];
};
// A streak at p moving at v relative to the viewer whose eye is at eye, lasting the longer of
// frame_seconds and min_time, radius wide across the line of sight. A streak at rest lies
// along +x with half-length 1.
StreakQuads streak_geometry(Vec3f p, Vec3f v, float radius, float min_time, Vec3f eye,
                            float frame_seconds);
// Draws the streak for the current camera and frame time as three textured quads.
void streak_billboard(float px, float py, float pz, float vx, float vy, float vz, float radius,
                      float min_time);
