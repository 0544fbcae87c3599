#include "app/ship.h"

#include <cmath>
#include <cstdlib>

#include "app/hud.h"
#include "app/main_loop.h"
#include "foundation/util.h"
#include "scene/advance.h"
#include "platform/framecycle.h"
#include "platform/window.h"
#include "things/bullet.h"

const ThingType ship_type = {"Ship", sizeof(Ship), ship_advance, ship_plot, ship_collide, ship_free};

void (*ship_mouse_look)(int* dx, int* dy) = mouse_look;

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double THRUST = 10.0;        // units per second squared along each axis
constexpr double MUZZLE_SPEED = 50.0;  // added to the ship's own velocity

// Virtual-key codes of the flight keys.
constexpr int KEY_PAGE_UP = 0x21;
constexpr int KEY_PAGE_DOWN = 0x22;
constexpr int KEY_LEFT = 0x25;
constexpr int KEY_UP = 0x26;
constexpr int KEY_RIGHT = 0x27;
constexpr int KEY_DOWN = 0x28;

int held(int vk) { return key_held(vk) ? 1 : 0; }

Vec3 column(const Mat4* m, int c) { return Vec3{m->m[4 * c], m->m[4 * c + 1], m->m[4 * c + 2]}; }

// The angle per pixel grows with the square root of the distance moved in one frame, up to
// 7 pixel angles from a move of 49 pixels on. The turn does not depend on the time step.
void steer(Mat4* m) {
    int dx = 0, dy = 0;
    ship_mouse_look(&dx, &dy);
    // Wide enough that no mouse move can overflow the sum of squares.
    const int64_t r2 = int64_t{dx} * dx + int64_t{dy} * dy;
    const double k = std::fmin(7.0, std::sqrt(std::sqrt(static_cast<double>(r2))));
    const double s = k * pixel_angle();
    frame_rotate_y(m, -s * dx);
    frame_rotate_x(m, -s * dy);
}

void roll(Ship* ship, Mat4* m, double dt) {
    const int direction = held('Z') - held('C');
    const double rate = portable_exp(-dt) * ship->roll_rate + 2.0 * dt * direction;
    ship->roll_rate = static_cast<float>(rate);
    frame_rotate_z(m, ship->roll_rate * dt);
    frame_orthonormalize(m);
}

void thrust(Ship* ship, const Mat4* m, double dt) {
    double forward = 0.0;
    if (key_held('W') || key_held(KEY_UP)) {
        forward = THRUST;
    } else if (key_held('S') || key_held(KEY_DOWN)) {
        forward = -THRUST;
    }
    vec3_add(&ship->velocity, vec3_scale(forward * dt, vec3_neg(column(m, 2))));
    const int side = held('D') + held(KEY_RIGHT) - held('A') - held(KEY_LEFT);
    vec3_add(&ship->velocity, vec3_scale(vec3_scale(side * dt, column(m, 0)), THRUST));
    const int up = held('R') + held(KEY_PAGE_UP) - held('F') - held(KEY_PAGE_DOWN);
    vec3_add(&ship->velocity, vec3_scale(vec3_scale(up * dt, column(m, 1)), THRUST));
}

// Exponential damping, then a drag of 0.00025 v^2 / radius that never reverses the velocity.
void slow_down(Ship* ship, double dt) {
    vec3_scale_in_place(&ship->velocity, portable_exp(-0.5 * dt));
    const double v = vec3_len(ship->velocity);
    const double drag = -0.5 * 0.001 * v * v * 0.5 / ship->bound.radius;
    if (v > 0.0) vec3_scale_in_place(&ship->velocity, max_d(0.0, 1.0 + dt * drag / v));
}

bool trigger_fresh() {
    const bool click = (mouse_buttons & MOUSE_LEFT) && !(prev_mouse_buttons & MOUSE_LEFT);
    const bool both = (mouse_buttons & (MOUSE_LEFT | MOUSE_RIGHT)) == (MOUSE_LEFT | MOUSE_RIGHT);
    return click || key_pressed(KEY_SPACE) || both;
}

bool trigger_held() { return (mouse_buttons & MOUSE_LEFT) || key_held(KEY_SPACE); }

void fire(Ship* ship, const Mat4* m) {
    const Vec3 muzzle = frame_point_to_world(m, 0.0, -1.0, 0.0);
    Vec3 v = Vec3{0.0, 0.0, -MUZZLE_SPEED};
    frame_vector_to_world(m, &v);
    vec3_add(&v, ship->velocity);
    bullet_create(muzzle.x, muzzle.y, muzzle.z, v.x, v.y, v.z, ship, ship->parent);
    ship->charge -= 1.0f;
    ship->shots++;
}

// A fresh trigger fires a full shot; a held trigger fires each time the charge crosses a
// whole number. At most one shot per advance.
void gun(Ship* ship, const Mat4* m, double dt) {
    const int old = static_cast<int>(ship->charge);
    ship->charge = static_cast<float>(
        min_d(ship->charge_max, ship->charge + ship->charge_rate * dt));
    const bool full_shot = trigger_fresh() && ship->charge >= 1.0f;
    const bool automatic = trigger_held() && static_cast<int>(ship->charge) > old;
    if (full_shot || automatic) fire(ship, m);
}

}  // namespace

Ship* ship_create(double x, double y, double z, VNode* parent) {
    Ship* ship = static_cast<Ship*>(VNode_create_thing(&ship_type, parent));
    ship->bound.radius = SHIP_RADIUS;
    VNode_take_frame(ship, nullptr);
    ship->frame->current.m[12] = x;
    ship->frame->current.m[13] = y;
    ship->frame->current.m[14] = z;
    // The HUD is drawn after the opaque things.
    ship->flags |= VN_TRANSPARENT;
    ship->roll_rate = 0.0f;
    ship->score = 0.0;
    ship->show_tallies = ship->shots = ship->hits = ship->misses = 0;
    ship->streak = ship->best_streak = 0;
    ship->velocity_before = ship->velocity;
    DynArray_init_of<DamageEntry>(&ship->damage);
    ship->health = 100.0f;
    ship->charge = 1.0f;
    ship->charge_max = 1.0f;
    ship->charge_rate = SHIP_CHARGE_RATE;
    return ship;
}

void ship_free(VNode* node) { DynArray_free(VNode_as<Ship>(node)->damage); }

void ship_add_damage(Ship* ship, double amount, double scale) {
    if (300.0 * scale * scale > amount) return;
    DamageEntry* entries = DynArray_items<DamageEntry>(&ship->damage);
    for (uint32_t i = ship->damage.count; i-- > 0;) {
        if (entries[i].time >= sim_time - 1.0) {
            entries[i].time = sim_time;
            entries[i].amount += amount;
            return;
        }
    }
    DynArray_push_value(&ship->damage, DamageEntry{sim_time, amount});
}

// An entry weighs its full amount at first and stops counting once
// 10^(2 pi amount / 100) seconds have passed since its last contribution.
void ship_recount_health(Ship* ship) {
    ship->health = 100.0f;
    for (uint32_t i = ship->damage.count; i-- > 0;) {
        const DamageEntry e = DynArray_at<DamageEntry>(&ship->damage, i);
        const float f = static_cast<float>(
            100.0 * std::log10(max_d(1.0, sim_time - e.time)) / TWO_PI - e.amount);
        if (f < 0.0f) {
            ship->health += f;
        } else {
            DynArray_remove(&ship->damage, i);  // the last entry, already visited, moves here
        }
    }
}

void ship_update_health(Ship* ship) {
    ship_recount_health(ship);
    if (ship->health < 0.0f) std::_Exit(0);
}

void ship_advance(VNode* node, double dt) {
    Ship* ship = VNode_as<Ship>(node);
    Mat4* m = &ship->frame->current;
    // Between two advances only a collision changes the velocity.
    if (vec3_differs(ship->velocity, ship->velocity_before)) {
        ship_add_damage(ship, vec3_dist2(ship->velocity, ship->velocity_before), dt);
    }
    ship_update_health(ship);
    steer(m);
    roll(ship, m, dt);
    thrust(ship, m, dt);
    slow_down(ship, dt);
    frame_translate(m, dt * ship->velocity.x, dt * ship->velocity.y, dt * ship->velocity.z);
    ship->velocity_before = ship->velocity;
    gun(ship, m, dt);
}
