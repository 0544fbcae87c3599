#pragma once
// The player's ship: the node the world is seen from and the only thing the user steers.
// It looks along -Z of its own frame, +X to its right and +Y up.
#include <cstdint>

#include "foundation/dynarray.h"
#include "scene/vnode.h"
#include "things/bullet.h"

// Damage recorded at time (sim_time of the latest contribution); it fades logarithmically.
struct DamageEntry {
    double time;
    double amount;
};

// The tallies of its bullets (score, shots, hits, misses, streaks) come from Shooter.
struct Ship : Shooter {
    float roll_rate;         // radians per second about the ship's Z axis
    Vec3 velocity_before;    // velocity at the end of the last advance; a change is an impact
    DynArray damage;         // of DamageEntry, in the order recorded (removal is unordered)
    float health;            // 100 is undamaged; below 0 ends the game
    float charge;            // shots available, fractional
    float charge_max;
    float charge_rate;       // charge gained per second
    int32_t show_tallies;    // the HUD shows streaks and accuracy
};

extern const ThingType ship_type;

constexpr double SHIP_RADIUS = 3.0;
constexpr float SHIP_CHARGE_RATE = 4.0f;
constexpr float SHIP_FAST_CHARGE_RATE = 132.0f;  // Ctrl+D

// A ship at (x, y, z) of parent's coordinates, with a frame of its own.
Ship* ship_create(double x, double y, double z, VNode* parent);
void ship_free(VNode* node);
void ship_advance(VNode* node, double dt);

// Records amount of damage unless it is below 300 scale^2; damage within a second of the
// latest entry adds up into that entry.
void ship_add_damage(Ship* ship, double amount, double scale);
// Recomputes health from the damage entries and drops the entries that no longer count.
void ship_recount_health(Ship* ship);
// ship_recount_health; a health below 0 ends the process at once with status 0.
void ship_update_health(Ship* ship);

// Where the ship reads the cursor offset from the window centre (and re-centres it):
// mouse_look, unless a test has put its own reader here.
extern void (*ship_mouse_look)(int* dx, int* dy);
