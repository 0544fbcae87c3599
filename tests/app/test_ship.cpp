#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/hud.h"
#include "app/main_loop.h"
#include "app/ship.h"
#include "platform/font_fixture.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/asteroid.h"
#include "things/bullet.h"

namespace {

constexpr double HIT = 100.0 / 3.0;  // a bullet hit on the ship
constexpr double PI = 3.141592653589793, TWO_PI = 2 * PI;
constexpr int W = 1280, H = 720;  // the HUD's screen: unit 36 pixels

int look_dx = 0, look_dy = 0;
void scripted_look(int* dx, int* dy) {
    if (dx) *dx = look_dx;
    if (dy) *dy = look_dy;
    look_dx = look_dy = 0;
}

// The ship's HUD, composed into a record of its texts and rings.
struct Text { std::string text; double x; uint32_t colour; };
struct Recorder { std::vector<Text> texts; std::vector<HudRing> rings; };

const HudSink recorder_sink = {
    nullptr,
    [](void* u, const char* t, double x, double, double, uint32_t c) {
        static_cast<Recorder*>(u)->texts.push_back(Text{t, x, c});
    },
    [](void*) {},
    [](void* u, const HudRing& r) { static_cast<Recorder*>(u)->rings.push_back(r); },
    [](void*) {},
};

// A ship at (20, 20, 20) of a fresh world, steered by the test's keys and mouse, its HUD
// written with the built-in font.
class ShipTest : public WorldTest<GlTest> {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        reset_input();
        reset_fonts();
        fake_font("normal");
        ship_mouse_look = scripted_look;
        ship = ship_create(20, 20, 20, world);
    }
    void TearDown() override {
        WorldTest::TearDown();
        reset_input();
        reset_fonts();
    }
    static void reset_input() {
        clear_keys();
        mouse_buttons = prev_mouse_buttons = 0;
        sim_time = 0.0;
        ship_mouse_look = mouse_look;
    }
    void hit_at(double t, double amount = HIT) {
        sim_time = t;
        ship_add_damage(ship, amount, 0.0);
    }
    // One frame as the main loop runs it: the ship's advance, then the input kept.
    void frame(double dt, int frames = 1) {
        for (int i = 0; i < frames; i++) {
            ship_advance(ship, dt);
            prev_mouse_buttons = mouse_buttons;
            std::memcpy(key_state_before, key_state, sizeof key_state);
        }
    }
    int bullets() const { return static_cast<int>(children_of(world, &bullet_type).size()); }
    const Mat4& m() const { return ship->frame->current; }
    Recorder compose() {
        Recorder r;
        HudSink sink = recorder_sink;
        sink.user = &r;
        hud_compose(ship, W, H, sink);
        return r;
    }
    // The texts drawn in the given colour.
    static std::vector<std::string> in(const Recorder& r, uint32_t colour) {
        std::vector<std::string> out;
        for (const Text& t : r.texts)
            if (t.colour == colour) out.push_back(t.text);
        return out;
    }
    Ship* ship = nullptr;
};

using Hud = ShipTest;
using Strings = std::vector<std::string>;

}  // namespace

// Faded entries are dropped, also the last one moved into a hole; hits within a second of the
// latest merge, and the fourth separate one ends the game with status 0.
TEST_F(ShipTest, DamageFadesMergesAndTheFourthSeparateHitEndsTheGame) {
    hit_at(10.0);
    const double fade = std::pow(10.0, TWO_PI / 3.0);  // 124.3 s
    sim_time = 10.0 + fade - 0.1;
    ship_update_health(ship);
    EXPECT_TRUE(ship->health > 99.0f && ship->health < 100.0f);
    sim_time = 10.0 + fade + 0.1;
    ship_update_health(ship);
    EXPECT_EQ(ship->health, 100.0f);
    EXPECT_EQ(ship->damage.count, 0u);

    hit_at(0.0);
    hit_at(1.5, 500.0);
    hit_at(3.0);
    sim_time = 200.0;
    ship_recount_health(ship);
    ASSERT_EQ(ship->damage.count, 1u);
    EXPECT_NEAR(ship->health, 100.0 + 100.0 * std::log10(198.5) / TWO_PI - 500.0, 1e-3);

    DynArray_clear(&ship->damage);
    hit_at(3.0);
    hit_at(3.9);
    ASSERT_EQ(ship->damage.count, 1u);
    EXPECT_NEAR(DynArray_at<DamageEntry>(&ship->damage, 0).amount, 66.67, 0.01);
    hit_at(5.0);  // more than a second after the latest contribution
    EXPECT_EQ(ship->damage.count, 2u);

    DynArray_clear(&ship->damage);
    for (double t : {0.0, 2.0, 4.0}) hit_at(t);
    ship_recount_health(ship);
    EXPECT_NEAR(ship->health, 14.4, 0.05);
    hit_at(6.0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ship_update_health(ship), testing::ExitedWithCode(0), "");
}

TEST_F(ShipTest, EveryFlightKeyThrustsAlongItsOwnAxis) {
    // Keys held, and the thrust in the ship's axes per unit (keys and their aliases add up).
    const struct { int keys[2]; double x, y, z; } cases[] = {
        {{'W', 0}, 0, 0, -1},   {{0x26, 0}, 0, 0, -1},  {{'S', 0}, 0, 0, 1},
        {{0x28, 0}, 0, 0, 1},   {{'W', 'S'}, 0, 0, -1}, {{'D', 0x27}, 2, 0, 0},
        {{'A', 0}, -1, 0, 0},   {{0x25, 0}, -1, 0, 0},  {{'D', 'A'}, 0, 0, 0},
        {{'R', 0x21}, 0, 2, 0}, {{'F', 0x22}, 0, -2, 0},
    };
    // A turned ship, so that the thrust must follow its own axes.
    frame_rotate_y(&ship->frame->current, 0.7);
    frame_rotate_x(&ship->frame->current, -0.4);
    const double dt = 0.01, unit = 10.0 * dt * std::exp(-0.5 * dt);  // damped once, no drag
    for (const auto& c : cases) {
        ship->velocity = ship->velocity_before = Vec3{0, 0, 0};
        clear_keys();
        for (int k : c.keys) key_state[k] = k ? 0x80 : 0;
        ship_advance(ship, dt);
        const double* a = m().m;
        const Vec3 v = ship->velocity;
        const double local[3] = {v.x * a[0] + v.y * a[1] + v.z * a[2],
                                 v.x * a[4] + v.y * a[5] + v.z * a[6],
                                 v.x * a[8] + v.y * a[9] + v.z * a[10]};
        const double want[3] = {c.x * unit, c.y * unit, c.z * unit};
        for (int i = 0; i < 3; i++) EXPECT_NEAR(local[i], want[i], 1e-6) << c.keys[0] << "+" << c.keys[1];
    }
    // Drag stops a ship rather than reversing it.
    ship->velocity = ship->velocity_before = Vec3{1e6, 0, 0};
    ship_advance(ship, 0.05);
    EXPECT_EQ(ship->velocity.x, 0.0);
}

TEST_F(ShipTest, ZeroTimeStepTurnsButDoesNotMoveRollThrustOrRecharge) {
    ship->velocity = ship->velocity_before = Vec3{3, 0, 0};
    ship->roll_rate = 0.5f;
    ship->charge = 0.5f;
    const Mat4 before = m();
    key_state['W'] = key_state['Z'] = 0x80;
    look_dx = 40;
    look_dy = -30;
    frame(0.0);
    for (int k : {12, 13, 14}) EXPECT_EQ(m().m[k], before.m[k]);
    EXPECT_TRUE(ship->velocity.x == 3.0 && ship->velocity.z == 0.0);
    EXPECT_TRUE(ship->roll_rate == 0.5f && ship->charge == 0.5f);
    EXPECT_TRUE(m().m[8] < -0.01 && m().m[9] < -0.01) << "turned right and pitched up";
    EXPECT_EQ(bullets(), 0);
}

// A click below a full charge fires when the charge fills while it is held, not after release;
// clicks fire once, held keys by the charge, both buttons (Ctrl+D) every frame.
TEST_F(ShipTest, ClicksFireOnceHeldKeysByTheChargeAndCtrlDEveryFrame) {
    const double dt = 1.0 / 64;  // exact, so that the charge reaches whole numbers exactly
    ship->charge = 0.5f;
    mouse_buttons = MOUSE_LEFT;
    frame(dt, 7);  // charge 0.5 + 7/16 = 0.9375
    EXPECT_EQ(bullets(), 0);
    frame(dt);
    EXPECT_EQ(bullets(), 1);
    mouse_buttons = 0;
    frame(dt, 20);
    EXPECT_EQ(bullets(), 1);

    for (int click = 2; click <= 4; click++) {
        mouse_buttons = MOUSE_LEFT;
        frame(dt);
        mouse_buttons = 0;
        frame(dt, 20);
        EXPECT_EQ(bullets(), click);
    }
    key_state[KEY_SPACE] = 0x80;  // the press fires, then a shot per whole unit of charge
    frame(dt, 64);
    EXPECT_EQ(bullets(), 4 + 4);
    EXPECT_EQ(ship->shots, 8);
    key_state[KEY_SPACE] = 0;
    frame(dt, 2);

    ship->charge_rate = SHIP_FAST_CHARGE_RATE;
    mouse_buttons = MOUSE_LEFT | MOUSE_RIGHT;
    frame(1.0 / 60, 30);
    EXPECT_EQ(bullets(), 8 + 30);
}

// A foreign bullet damages the ship by a third, a friendly one is a miss of its ship; other
// things bounce off.
TEST_F(ShipTest, ForeignBulletDamagesTheShipByAThirdAndOtherThingsBounce) {
    auto hit_by = [&](Ship* owner) {
        Bullet* b = bullet_create(0, 0, 0, 0, 0, 10, owner, world);
        VNode_begin_deferral();
        ship_collide(ship, b);
        VNode_end_deferral();
    };
    hit_by(nullptr);
    ASSERT_EQ(ship->damage.count, 1u);
    EXPECT_EQ(DynArray_at<DamageEntry>(&ship->damage, 0).amount, 100.0 / 3.0);
    Ship* other = ship_create(1, 0, 0, world);
    hit_by(other);  // a friendly bullet: no damage, a miss of its ship
    EXPECT_EQ(ship->damage.count, 1u);
    EXPECT_EQ(other->misses, 1);

    Thing* rock = asteroid_create(22, 20, 20, 1.0, world);
    rock->velocity = Vec3{-1, 0, 0};
    ship->velocity = Vec3{0, 0, 0};
    ship_collide(ship, rock);
    EXPECT_DOUBLE_EQ(ship->velocity.x, -1.0);
    EXPECT_DOUBLE_EQ(rock->velocity.x, 0.0);
}

TEST_F(Hud, TalliesGreyUntilEveryShotIsDecidedAndTheBestStreakOutlivesTheStreak) {
    key_state[KEY_CONTROL] = key_state['H'] = 0x80;  // Ctrl+H toggles once per plot
    compose();
    EXPECT_EQ(ship->show_tallies, 1);
    compose();  // the second eye of a stereo frame toggles it back
    EXPECT_EQ(ship->show_tallies, 0);
    ship->show_tallies = 1;
    clear_keys();
    EXPECT_EQ(in(compose(), 0x404040), Strings{"000"});
    ship->shots = 10;
    ship->hits = 7;
    ship->misses = 2;
    EXPECT_EQ(in(compose(), 0x404040), Strings{"700"});
    ship->misses = 3;  // the tenth bullet fizzled
    EXPECT_EQ(in(compose(), 0x4080c0), Strings{"700"});

    // The streak (0x80c040) and the best one (0x40c080): a streak of one is not shown.
    const struct { int32_t streak; Strings now, best; } steps[] = {
        {1, {}, {}}, {4, {"4"}, {"4"}}, {0, {}, {"4"}}};
    for (const auto& step : steps) {
        ship->streak = step.streak;
        const Recorder r = compose();
        EXPECT_EQ(in(r, 0x80c040), step.now) << step.streak;
        EXPECT_EQ(in(r, 0x40c080), step.best) << step.streak;
    }
}

TEST_F(Hud, HealthRingFadesInBelowFullHealthAndIsRedWhenLow) {
    ship->health = 99.5f;
    Recorder r = compose();
    ASSERT_EQ(r.rings.size(), 1u);
    EXPECT_EQ(r.rings[0].colour, hud_pack(0x00ff00, 64));
    EXPECT_EQ(in(r, 0x003f00), (Strings{"9", "9"}));  // the green dimmed to 64/256
    ship->health = 5.5f;
    r = compose();
    ASSERT_EQ(r.rings.size(), 1u);
    const HudRing& ring = r.rings[0];
    EXPECT_EQ(ring.colour, hud_pack(0xff0000, 128));
    EXPECT_NEAR(ring.end - ring.start, 2 * PI * 0.055, 1e-5);
    EXPECT_EQ(ring.end, 3.1415927f);
    EXPECT_TRUE(ring.outer == 27.0f && ring.cx == 27.0f && ring.cy == H - 27.0f);
    ASSERT_EQ(in(r, 0x7f0000), (Strings{"0", "5"}));  // the red dimmed to 128/256
    EXPECT_LT(r.texts[1].x, ring.cx);
    EXPECT_GT(r.texts[2].x, r.texts[1].x);
}

TEST_F(Hud, ChargeGaugeShowsTheSegmentChargingWholeChargesAndSixteens) {
    ship->charge = 0.01f;  // just after a shot
    Recorder r = compose();
    ASSERT_EQ(r.rings.size(), 8u);  // no whole charges: only the fraction ring
    EXPECT_EQ(r.rings[0].colour, hud_pack(0xffffff, 0x80));
    for (int i = 1; i < 8; i++) EXPECT_EQ(r.rings[i].colour, hud_pack(0x506040, 0x80)) << i;
    EXPECT_EQ(r.rings[0].cx, W - 27.0f);
    // Separated segments running clockwise from the bottom.
    EXPECT_NEAR(r.rings[0].end, PI - 2 * PI * 0.1 / 8, 1e-5);
    EXPECT_NEAR(r.rings[1].start, PI - 2 * PI * 1.9 / 8, 1e-5);

    ship->charge_max = 40.0f;
    ship->charge = 18.5f;  // 17 whole charges beyond the first: one sixteen and one more
    r = compose();
    ASSERT_EQ(r.rings.size(), 8u + 2u + 1u);
    EXPECT_EQ(r.rings[3].colour, hud_pack(0x80c040, 0x80));
    EXPECT_EQ(r.rings[4].colour, hud_pack(0xffffff, 0x80));  // half way: segment 4 charging
    EXPECT_EQ(r.rings[8].colour, hud_pack(0x4080c0, 0x80));
    EXPECT_EQ(r.rings[8].outer, 18.0f);
    EXPECT_EQ(r.rings[10].colour, hud_pack(0x4040c0, 0x80));
    EXPECT_NEAR(r.rings[10].outer, 0.3 * 36, 1e-5);
}
