#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/main_loop.h"
#include "app/ship.h"
#include "platform/window.h"
#include "support/gl_context.h"
#include "things/bullet.h"

namespace {

constexpr double HIT = 100.0 / 3.0;  // a bullet hit on the ship

class ShipDamage : public testing::Test {
protected:
    void SetUp() override {
        sim_time = 0.0;
        world = World_create(0, 0, 0, nullptr);
        ship = ship_create(20, 20, 20, world);
    }
    void TearDown() override {
        VNode_destroy(world);
        sim_time = 0.0;
    }
    void hit_at(double t) {
        sim_time = t;
        ship_add_damage(ship, HIT, 0.0);
    }
    VNode* world = nullptr;
    Ship* ship = nullptr;
};

}  // namespace

TEST_F(ShipDamage, HitsTwoSecondsApartAddUpUntilTheFourthEndsTheGame) {
    hit_at(0.0);
    hit_at(2.0);
    hit_at(4.0);
    ship_recount_health(ship);
    EXPECT_NEAR(ship->health, 14.4, 0.05);
    EXPECT_EQ(ship->damage.count, 3u);
    hit_at(6.0);
    ship_recount_health(ship);
    EXPECT_NEAR(ship->health, -6.6, 0.05);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ship_update_health(ship), testing::ExitedWithCode(0), "");
}

TEST_F(ShipDamage, OneHitStopsCountingAfterAbout124Seconds) {
    hit_at(10.0);
    const double fade = std::pow(10.0, 6.283185307179586 / 3.0);  // 124.3 s
    sim_time = 10.0 + fade - 0.1;
    ship_update_health(ship);
    EXPECT_LT(ship->health, 100.0f);
    EXPECT_GT(ship->health, 99.0f);
    EXPECT_EQ(ship->damage.count, 1u);
    sim_time = 10.0 + fade + 0.1;
    ship_update_health(ship);
    EXPECT_EQ(ship->health, 100.0f);
    EXPECT_EQ(ship->damage.count, 0u);
}

TEST_F(ShipDamage, HitsWithinASecondFormOneEntry) {
    hit_at(3.0);
    hit_at(3.9);
    ASSERT_EQ(ship->damage.count, 1u);
    const DamageEntry e = DynArray_at<DamageEntry>(&ship->damage, 0);
    EXPECT_EQ(e.time, 3.9);
    EXPECT_NEAR(e.amount, 66.67, 0.01);
    hit_at(5.0);  // more than a second after the latest contribution
    EXPECT_EQ(ship->damage.count, 2u);
}

TEST_F(ShipDamage, FadedEntriesAreDroppedAndTheRestStillCount) {
    // Removal moves the last entry into the hole: the moved entry must still be counted.
    hit_at(0.0);
    sim_time = 1.5;
    ship_add_damage(ship, 500.0, 0.0);  // far from fading
    hit_at(3.0);
    sim_time = 200.0;
    ship_recount_health(ship);
    ASSERT_EQ(ship->damage.count, 1u);
    EXPECT_EQ(DynArray_at<DamageEntry>(&ship->damage, 0).amount, 500.0);
    EXPECT_NEAR(ship->health, 100.0 + 100.0 * std::log10(198.5) / 6.283185307179586 - 500.0, 1e-3);
}

namespace {

int look_dx = 0, look_dy = 0;
void scripted_look(int* dx, int* dy) {
    if (dx) *dx = look_dx;
    if (dy) *dy = look_dy;
    look_dx = look_dy = 0;
}

class ShipFlight : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        std::memset(key_state, 0, sizeof key_state);
        std::memset(key_state_before, 0, sizeof key_state_before);
        mouse_buttons = prev_mouse_buttons = 0;
        sim_time = 0.0;
        ship_mouse_look = scripted_look;
        world = World_create(0, 0, 0, nullptr);
        ship = ship_create(20, 20, 20, world);
    }
    void TearDown() override {
        VNode_destroy(world);
        ship_mouse_look = mouse_look;
        std::memset(key_state, 0, sizeof key_state);
        std::memset(key_state_before, 0, sizeof key_state_before);
        mouse_buttons = prev_mouse_buttons = 0;
    }
    // One frame as the main loop runs it: input, the ship's advance, then the mouse bits kept.
    void frame(double dt) {
        ship_advance(ship, dt);
        prev_mouse_buttons = mouse_buttons;
        std::memcpy(key_state_before, key_state, sizeof key_state);
    }
    void press(int vk) { key_state[vk] = 0x80; }
    void release(int vk) { key_state[vk] = 0; }
    int bullets() const {
        int n = 0;
        for (uint32_t i = 0; i < VNode_child_count(world); i++) {
            n += VNode_child(world, i)->type == &bullet_type;
        }
        return n;
    }
    const Mat4& m() const { return ship->frame->current; }
    // The velocity in the ship's own axes.
    Vec3 local_velocity() const {
        const double* a = m().m;
        const Vec3 v = ship->velocity;
        return Vec3{v.x * a[0] + v.y * a[1] + v.z * a[2], v.x * a[4] + v.y * a[5] + v.z * a[6],
                    v.x * a[8] + v.y * a[9] + v.z * a[10]};
    }
    VNode* world = nullptr;
    Ship* ship = nullptr;
};

}  // namespace

TEST_F(ShipFlight, EveryFlightKeyThrustsAlongItsAxis) {
    struct Case {
        int keys[2];
        Vec3 direction;  // in the ship's axes, per unit of thrust
    };
    const Case cases[] = {
        {{'W', 0}, {0, 0, -1}},     {{0x26, 0}, {0, 0, -1}},   {{'S', 0}, {0, 0, 1}},
        {{0x28, 0}, {0, 0, 1}},     {{'W', 'S'}, {0, 0, -1}},  {{0x26, 0x26}, {0, 0, -1}},
        {{'D', 0}, {1, 0, 0}},      {{0x27, 0}, {1, 0, 0}},    {{'A', 0}, {-1, 0, 0}},
        {{0x25, 0}, {-1, 0, 0}},    {{'D', 0x27}, {2, 0, 0}},  {{'D', 'A'}, {0, 0, 0}},
        {{'R', 0}, {0, 1, 0}},      {{0x21, 0}, {0, 1, 0}},    {{'F', 0}, {0, -1, 0}},
        {{0x22, 0}, {0, -1, 0}},    {{'R', 0x21}, {0, 2, 0}},  {{'F', 0x22}, {0, -2, 0}},
    };
    // A turned ship, so that the thrust must follow its own axes.
    frame_rotate_y(&ship->frame->current, 0.7);
    frame_rotate_x(&ship->frame->current, -0.4);
    const double dt = 0.01;
    const double damping = std::exp(-0.5 * dt);
    for (const Case& c : cases) {
        ship->velocity = ship->velocity_before = Vec3{0, 0, 0};
        std::memset(key_state, 0, sizeof key_state);
        for (int k : c.keys) {
            if (k) press(k);
        }
        ship_advance(ship, dt);
        const Vec3 v = local_velocity();
        // 10 per second squared, damped once; the drag is negligible at this speed.
        const double unit = 10.0 * dt * damping;
        EXPECT_NEAR(v.x, c.direction.x * unit, 1e-6) << c.keys[0] << "+" << c.keys[1];
        EXPECT_NEAR(v.y, c.direction.y * unit, 1e-6) << c.keys[0] << "+" << c.keys[1];
        EXPECT_NEAR(v.z, c.direction.z * unit, 1e-6) << c.keys[0] << "+" << c.keys[1];
    }
}

TEST_F(ShipFlight, DragStopsTheShipRatherThanReversingIt) {
    ship->velocity = ship->velocity_before = Vec3{1e6, 0, 0};
    ship_advance(ship, 0.05);
    EXPECT_EQ(ship->velocity.x, 0.0);
}

TEST_F(ShipFlight, SmallBouncesLeaveNoDamage) {
    const double dt = 0.02;  // damage needs a change of at least sqrt(300) * dt = 0.346
    ship->velocity.x += 0.34;
    frame(dt);
    EXPECT_EQ(ship->damage.count, 0u);
    ship->velocity.x += 0.35;
    frame(dt);
    ASSERT_EQ(ship->damage.count, 1u);
    EXPECT_NEAR(DynArray_at<DamageEntry>(&ship->damage, 0).amount, 0.35 * 0.35, 1e-12);
    EXPECT_NEAR(ship->health, 100.0 - 0.35 * 0.35, 1e-4);
}

TEST_F(ShipFlight, ZeroTimeStepTurnsButDoesNotMoveRollThrustOrRecharge) {
    ship->velocity = ship->velocity_before = Vec3{3, 0, 0};
    ship->roll_rate = 0.5f;
    ship->charge = 0.5f;
    const Mat4 before = m();
    press('W');
    press('Z');
    look_dx = 40;
    look_dy = -30;
    frame(0.0);
    EXPECT_EQ(m().m[12], before.m[12]);
    EXPECT_EQ(m().m[13], before.m[13]);
    EXPECT_EQ(m().m[14], before.m[14]);
    EXPECT_EQ(ship->velocity.x, 3.0);
    EXPECT_EQ(ship->velocity.z, 0.0);
    EXPECT_EQ(ship->roll_rate, 0.5f);
    EXPECT_EQ(ship->charge, 0.5f);
    // A 50-pixel move turns 7 pixel angles per pixel: right and up.
    const double z_x = m().m[8], z_y = m().m[9];
    EXPECT_LT(z_x, -0.01) << "looking along -Z, turned right";
    EXPECT_LT(z_y, -0.01) << "pitched up";
    EXPECT_EQ(bullets(), 0);
}

TEST_F(ShipFlight, MouseTurnGrowsWithTheSquareRootOfTheMove) {
    // Angle of a yaw of n pixels in one frame.
    auto yaw = [&](int n) {
        ship->frame->current = mat4_identity();
        look_dx = n;
        frame(0.0);
        return std::atan2(-m().m[8], m().m[10]);
    };
    const double one = yaw(1);
    EXPECT_GT(one, 0.0);
    EXPECT_NEAR(yaw(16) / one, 16 * 4.0, 1e-6);   // 16 pixels: sqrt(16) = 4 per pixel
    EXPECT_NEAR(yaw(100) / one, 100 * 7.0, 1e-6);  // sqrt(100) capped at 7 from 49 pixels on
}

TEST_F(ShipFlight, OneShotPerClickAndFourASecondHeld) {
    const double dt = 1.0 / 64;  // exact, so that the charge reaches whole numbers exactly
    // Clicks: each press of the button fires once, the release fires nothing.
    for (int click = 0; click < 3; click++) {
        mouse_buttons = MOUSE_LEFT;
        frame(dt);
        EXPECT_EQ(bullets(), click + 1);
        mouse_buttons = 0;
        for (int i = 0; i < 20; i++) frame(dt);
        EXPECT_EQ(bullets(), click + 1);
    }
    // Held space: the press fires, then one shot per whole unit of charge.
    press(KEY_SPACE);
    for (int i = 0; i < 64; i++) frame(dt);
    EXPECT_EQ(bullets(), 3 + 4);
    EXPECT_EQ(ship->shots, 7);
    for (int i = 0; i < 128; i++) frame(dt);
    EXPECT_EQ(bullets(), 3 + 12);
}

TEST_F(ShipFlight, FastChargeFiresOneShotPerFrame) {
    ship->charge_rate = SHIP_FAST_CHARGE_RATE;
    mouse_buttons = MOUSE_LEFT | MOUSE_RIGHT;  // both the fresh and the automatic rule hold
    for (int i = 0; i < 30; i++) frame(1.0 / 60);
    EXPECT_EQ(bullets(), 30);
    EXPECT_EQ(ship->shots, 30);
}

TEST_F(ShipFlight, ClickBelowFullChargeWaitsForTheNextWholeCharge) {
    const double dt = 1.0 / 64;
    ship->charge = 0.5f;
    mouse_buttons = MOUSE_LEFT;
    frame(dt);
    EXPECT_EQ(bullets(), 0);
    for (int i = 0; i < 6; i++) frame(dt);  // charge 0.5 + 7/16 = 0.9375
    EXPECT_EQ(bullets(), 0);
    frame(dt);  // reaches 1.0 while held
    EXPECT_EQ(bullets(), 1);
    // Released below a full charge: nothing comes when it fills up.
    mouse_buttons = 0;
    for (int i = 0; i < 20; i++) frame(dt);
    EXPECT_EQ(bullets(), 1);
}

TEST_F(ShipFlight, BulletsLeaveTheMuzzleForwardAtFiftyPlusTheShipsVelocity) {
    frame_rotate_y(&ship->frame->current, 1.5707963267948966);  // now looking along -X
    ship->velocity = ship->velocity_before = Vec3{0, 0, 2};
    press(KEY_SPACE);
    frame(0.0);
    ASSERT_EQ(bullets(), 1);
    const Bullet* b = VNode_as<Bullet>(VNode_child(world, 1));
    EXPECT_EQ(b->owner, ship);
    EXPECT_EQ(b->firing_ship, ship);
    EXPECT_NEAR(b->bound.centre.x, 20.0, 1e-9);
    EXPECT_NEAR(b->bound.centre.y, 19.0, 1e-9);
    EXPECT_NEAR(b->bound.centre.z, 20.0, 1e-9);
    EXPECT_NEAR(b->velocity.x, -50.0, 1e-9);
    EXPECT_NEAR(b->velocity.z, 2.0, 1e-9);
    EXPECT_EQ(ship->charge, 0.0f);
}
