// The game's own parts: the ship and its HUD, stress scenes, options, the overlays, the title menu.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/hud.h"
#include "app/main_loop.h"
#include "app/overlays.h"
#include "app/scenario.h"
#include "app/ship.h"
#include "app/stress.h"
#include "app/titlemenu.h"
#include "platform/font_fixture.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "scene/lights.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"
#include "things/asteroid.h"
#include "things/bullet.h"

namespace {

constexpr double HIT = 100.0 / 3.0;  // a bullet hit on the ship
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

void no_plot_op(VNode*) {}
const ThingType leaf_type = {"Leaf", sizeof(VNode), nullptr, no_plot_op, nullptr, nullptr};

class Overlays : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        reset_fonts();
        font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
        profile_section(nullptr, 0);
        clear_keys();
    }
    void TearDown() override {
        profile_section(nullptr, 0);
        glClearColor(0, 0, 0, 0);
        glDisable(GL_LIGHTING);
        clear_keys();
        tree_stats = 0;
        frame_time = 0;
        free_fonts();
    }
    // Pixel (x, y) counted from the top-left, as the overlay places things.
    static unsigned at(int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y); }
};

// A ship at (20, 20, 20) of a fresh world, steered by the test's keys and mouse, its HUD
// written with the built-in font.
class ShipTest : public WorldTest<Overlays> {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        reset_input();
        ship_mouse_look = scripted_look;
        ship = ship_create(20, 20, 20, world);
    }
    void TearDown() override {
        WorldTest::TearDown();
        reset_input();
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

struct Scene {
    VNode* world = World_create(0, 0, 0, nullptr);
    uint32_t depth, groups = 0, widest = 0;
    bool rocks_at_depth = true;
    std::vector<Vec3> rocks;
    Scene(uint32_t n, uint32_t d, uint32_t seed) : depth(d) {
        EXPECT_TRUE(stress_populate(world, ship_create(20, 20, 20, world), n, d, seed));
        walk(world, 0);
    }
    ~Scene() { VNode_destroy(world); }
    void walk(const VNode* node, uint32_t level) {
        if (VNode_child_count(node) > widest && node != world) widest = VNode_child_count(node);
        for (uint32_t i = 0; i < VNode_child_count(node); i++) {
            const VNode* child = VNode_child(node, i);
            if (child->type == &group_node_type) groups++, walk(child, level + 1);
            if (child->type != &asteroid_type) continue;
            rocks_at_depth = rocks_at_depth && level + 1 == depth;
            rocks.push_back(frame_point_to_world(&child->frame->current, 0, 0, 0));
            EXPECT_TRUE(child->bound.radius >= 0.3 && child->bound.radius < 1.5);
        }
    }
};

using StressScene = WorldTest<>;  // the world's nodes all gone again after each test
using GroupNode = WorldTest<>;

// The software driver keeps what it compiles for a shader where the sanitizers' leak checker
// cannot see it until the context goes, which the game does at exit and this process never.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));
struct DriverLeaksIgnored {
    explicit DriverLeaksIgnored(bool shader) : on(shader && __lsan_disable) {
        on ? __lsan_disable() : void();
    }
    ~DriverLeaksIgnored() { on ? __lsan_enable() : void(); }
    bool on;
};

struct Rgb { int r, g, b; };
void expect_rgb(Rgb got, Rgb want, const char* where) {
    EXPECT_NEAR(got.r, want.r, 3) << where;
    EXPECT_NEAR(got.g, want.g, 3) << where;
    EXPECT_NEAR(got.b, want.b, 3) << where;
}

// The menu at full fade over a frame whose upper half is orange (204, 102, 51) and whose lower
// half is grey (204, 204, 204). At full fade the band runs from row 98.4 to row 669.6 (rows
// from the top); the texts stand in its left half (a scripted run looks at them).
class TitleMenu : public Overlays {
protected:
    void TearDown() override {
        title_menu_forget();
        menu_shader_source = menu_shader_text;
        Overlays::TearDown();
    }
    static Rgb pixel(int x, int y_from_top) {
        const unsigned c = at(x, y_from_top);
        return Rgb{int(c >> 16), int(c >> 8 & 0xff), int(c & 0xff)};
    }
    const int right = GL_TEST_WIDTH * 9 / 10;  // a column right of the texts
};

}  // namespace

// Faded entries are dropped, also the last one moved into a hole; hits within a second of the
// latest merge, and the fourth separate one ends the game with status 0.
TEST_F(ShipTest, DamageFadesMergesAndTheFourthSeparateHitEndsTheGame) {
    hit_at(10.0);
    const double fade = std::pow(10.0, 2 * M_PI / 3.0);  // 124.3 s
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
    EXPECT_NEAR(ship->health, 100.0 + 100.0 * std::log10(198.5) / (2 * M_PI) - 500.0, 1e-3);

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
    EXPECT_NEAR(ring.end - ring.start, 2 * M_PI * 0.055, 1e-5);
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
    EXPECT_NEAR(r.rings[0].end, M_PI - 2 * M_PI * 0.1 / 8, 1e-5);
    EXPECT_NEAR(r.rings[1].start, M_PI - 2 * M_PI * 1.9 / 8, 1e-5);

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

// Stress scenes: the script's stress line and the limits the builder holds itself, the shape of
// the tree, where the rocks go and what the seed decides; the group node's sphere, collisions
// across groups and removal. Then how the scenario's options match their keys.
TEST_F(StressScene, TheLineAndTheBuilderRefuseCountsAndDepthsOutOfRange) {
    struct Case { const char* line; StressRequest wanted; };  // count 0: refused
    const Case cases[] = {
        {"0 stress 1000000 8 4294967295", {1000000, 8, 4294967295u}},
        {"0 stress 1 1", {1, 1, STRESS_SEED_DEFAULT}}, {"0 stress 2000 3 7 extra", {}},
        {"0 stress 0 3", {}}, {"0 stress 1000001 3", {}}, {"0 stress 2000 9", {}}, {"0 stress 2000 0", {}},
        {"0 stress 2000 3 4294967296", {}},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("0 down w\n") + c.line + "\n";
        StressRequest got{};
        const ScriptSetting settings[] = {{"stress", stress_parse_setting, &got}};
        Script script{};
        char error[SCRIPT_ERROR_SIZE];
        const int line = script_parse(text.data(), text.size(), &script, error, settings, 1);
        script_free(&script);
        if (c.wanted.count == 0) {
            EXPECT_EQ(line, 2) << c.line;
            EXPECT_STREQ(error, "line 2: expected \"stress N DEPTH [SEED]\" (N 1 to 1000000, DEPTH 1 to 8)");
        } else {
            EXPECT_EQ(line, 0) << error;
            EXPECT_TRUE(got.count == c.wanted.count && got.depth == c.wanted.depth && got.seed == c.wanted.seed)
                << c.line;
        }
    }
    // The builder does not trust its caller: a depth of 0 once recursed without end.
    const VNode* ship = ship_create(0, 0, 0, world);
    for (const StressRequest r : {StressRequest{0, 3, 1}, StressRequest{STRESS_COUNT_MAX + 1, 3, 1},
                                  StressRequest{20, 0, 1}, StressRequest{20, STRESS_DEPTH_MAX + 1, 1}}) {
        EXPECT_FALSE(stress_populate(world, ship, r.count, r.depth, r.seed)) << r.count << " " << r.depth;
        EXPECT_EQ(VNode_child_count(world), 1u);
    }
    EXPECT_EQ(stress_fan_out(20, 0), 0u);
}

TEST_F(StressScene, EveryRockAtTheBottomOfATreeOfTheFanOutInTheCubeAroundTheShip) {
    const uint32_t before = total_nodes;
    struct Case { uint32_t n, depth, fan_out; };
    for (const Case c : {Case{1, 1, 1}, Case{1, 8, 1}, Case{1000, 1, 1000}, Case{2000, 3, 13},
                         Case{101, 2, 11}, Case{9, 3, 3}}) {
        EXPECT_EQ(stress_fan_out(c.n, c.depth), c.fan_out);
        Scene s(c.n, c.depth, 1);
        EXPECT_TRUE(s.rocks.size() == c.n && s.rocks_at_depth) << c.n << " " << c.depth;
        EXPECT_TRUE(VNode_child_count(s.world) <= c.fan_out + 1 && s.widest <= c.fan_out);
        EXPECT_EQ(total_nodes, before + 2 + c.n + s.groups);
        const double half = stress_cube_side(c.n) / 2;  // 1,000 cubic units a rock
        for (const Vec3& p : s.rocks) {
            EXPECT_TRUE(std::fabs(p.x - 20) <= half && std::fabs(p.y - 20) <= half &&
                        std::fabs(p.z - 20) <= half && vec3_dist(p, {20, 20, 20}) > SHIP_RADIUS);
        }
    }
    EXPECT_NEAR(stress_cube_side(1000000), 1000.0, 1e-9);
    EXPECT_EQ(stress_fan_out(1000000, 4), 32u);  // 31^4 = 923,521 is too few
    EXPECT_EQ(total_nodes, before);
    Scene a(300, 2, 7), b(300, 2, 7), c(300, 2, 8);
    bool same = true, other = false;
    for (size_t i = 0; i < a.rocks.size(); i++) {
        same = same && !vec3_differs(a.rocks[i], b.rocks[i]);
        other = other || vec3_differs(a.rocks[i], c.rocks[i]);
    }
    EXPECT_TRUE(same && other) << "the seed, and only the seed, decides the scene";
}

// A group's sphere encloses its children once they have moved; the collision pass meets rocks of
// different groups; a group left without children goes, and so its parent, which advances after it.
TEST_F(GroupNode, EnclosesItsChildrenMeetsOtherGroupsAndGoesWhenEmpty) {
    VNode *left = Group_create(world), *right = Group_create(Group_create(world));
    Thing *a = asteroid_create(0, 0, 0, 1.0, left), *far = asteroid_create(-30, 4, 2, 0.5, left);
    Thing* b = asteroid_create(1.5, 0, 0, 1.0, right);
    a->velocity = Vec3{1, 0, 0}, b->velocity = Vec3{-1, 0, 0}, far->velocity = Vec3{0, 0, 0};
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.1);
    for (const Thing* t : {a, far})
        EXPECT_LE(vec3_dist(left->world_centre, t->world_centre) + t->bound.radius, left->bound.radius + 1e-9);
    VNode_collide(world);
    // Bounced off the rock two levels down the other side.
    EXPECT_TRUE(a->velocity.x < 0.0 && b->velocity.x > 0.0) << a->velocity.x << " " << b->velocity.x;
    VNode_remove(b);
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(VNode_child_count(world), 1u);
}

// Names differing only in letter case are one option; a key matches the start of a name
// without regard to case, the latest option first.
TEST(Options, KeysMatchTheStartOfNamesWithoutRegardToCaseTheLatestFirst) {
    DynArray list;
    options_init(&list);
    for (const char* name : {"X size", "X SIZE", "x size"}) option_default(&list, name, name);
    option_default(&list, "X siz", "9");  // a shorter name is another option
    option_default(&list, "Density of solute", "0.05");
    option_default(&list, "Speed", "1");
    option_default(&list, "Spin", "2");
    EXPECT_EQ(list.count, 5u);
    const struct { const char* key; const char* value; } cases[] = {
        {"X size", "X size"}, {"x", "9"}, {"DENSITY OF SOLUTE", "0.05"}, {"sp", "2"},
        {"spe", "1"}, {"", "2"}, {"X sizf", nullptr}, {"X size2", nullptr}};
    for (const auto& c : cases)
        EXPECT_STREQ(option_find(&list, c.key), c.value) << '"' << c.key << '"';
    options_free(&list);
}

TEST_F(Overlays, TreeDiagramOverALitSceneKeepsItsColours) {
    VNode* world = World_create(0, 0, 0, nullptr);
    VNode_create(&leaf_type, world);
    // A white background, so that black fills show; the scene leaves lighting on.
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_LIGHTING);
    key_state[KEY_CONTROL] = key_state['T'] = 0x80;
    const std::string before = gl_test_state();
    tree_diagram_overlay(world);
    VNode_destroy(world);
    ASSERT_EQ(tree_stats, 1) << "Ctrl+T turns it on";
    EXPECT_EQ(gl_test_state(), before) << "lighting and the rest are left as they were";

    // The world's blue square, and below it its leaf's black one in a grey outline (where leaves
    // stand is judged by the diagram's geometry test).
    const int cx = 5 * GL_TEST_WIDTH / 8, y = GL_TEST_HEIGHT / 10;
    EXPECT_EQ(at(cx, 1), 0x0000FFu);
    int black = 0, grey = 0;
    for (int dy = -1; dy <= 5; dy++)
        for (int dx = -3; dx <= 3; dx++) {
            const bool fill = dx >= -1 && dx <= 1 && dy >= 1 && dy <= 3;
            (fill ? black : grey) += at(cx + dx, y + dy) == (fill ? 0u : 0x808080u);
        }
    // Lines along pixel edges fall on either side: the outline may cover a side of the fill.
    EXPECT_EQ(at(cx, y + 2), 0u) << "black in the middle";
    EXPECT_GE(black, 6) << "a black 3 x 3 fill";
    EXPECT_GE(grey, 12) << "a grey outline around it";
}

TEST_F(Overlays, TimesLogGetsOneLinePerFrameWithTheRawTimeAndTheFramesSections) {
    ScratchDir dir;
    frame_time = FRAME_TIME_MAX;  // the simulation clamped these frames
    const int sections[] = {3, 1, 5, 2};
    const char* labels[] = {"one", "two", "three", "four", "five"};
    for (int k = 0; k < 4; k++) {  // a frame with the diagnostics on: its sections, the overlay
        for (int i = 0; i < sections[k]; i++) profile_section(labels[i], 0);
        diagnostics_overlay(0.25 * (k + 1));
    }
    std::istringstream log(read_file(times_log_name));
    int k = 0;
    for (std::string line; k < 4 && std::getline(log, line); k++) {
        std::istringstream cells(line);
        std::vector<double> fields;
        for (std::string f; std::getline(cells, f, '\t');) fields.push_back(std::stod(f));
        ASSERT_EQ(fields.size(), 1u + sections[k]) << "line " << k;
        EXPECT_EQ(fields[0], 0.25 * (k + 1)) << "the raw frame time, unclamped";
        for (double f : fields) EXPECT_GE(f, 0.0);
    }
    EXPECT_TRUE(k == 4 && log.peek() == EOF) << k << " lines";
}

// The light tree is rebuilt at every plot, not added to: the same 7442 leaves each time.
using SceneLights = Overlays;
TEST_F(SceneLights, LightTreeModeBuildsAllSevenThousandLights) {
    light_show = 0;
    lights_start();
    light_tree_on();
    for (int plot = 0; plot < 2; plot++) {
        set_scene_lights();
        uint32_t leaves = 0;
        for (uint32_t i = 0; i < light_tree.entries.count; i++)
            leaves += DynArray_at<LightEntry>(&light_tree.entries, i).left == -1;
        EXPECT_EQ(leaves, 7442u);
    }
    light_tree_off();
    lights_off();
}

TEST(MenuFade, HeldFromZeroAtSixtyFramesNearsThreeQuartersInSixAndOneInFourteen) {
    float fades[15] = {0.0f};
    for (int f = 1; f <= 14; f++) fades[f] = menu_fade_next(fades[f - 1], true, 1.0 / 60.0);
    EXPECT_NEAR(fades[6], 0.7316f, 0.001f);
    EXPECT_LT(fades[13], 1.0f);
    float fade = fades[14];
    EXPECT_EQ(fade, 1.0f);
    EXPECT_EQ(menu_fade_next(fade, true, 1.0 / 60.0), 1.0f);  // capped
    int frames = 0;
    while (fade > 0.0f && frames < 100) fade = menu_fade_next(fade, false, 1.0 / 60.0), frames++;
    EXPECT_EQ(fade, 0.0f);
    EXPECT_LT(frames, 20);
    EXPECT_EQ(menu_fade_next(fade, false, 1.0 / 60.0), 0.0f);  // floored
}

TEST(MenuGeometry, BandFollowsTheAspectAndIsCappedOnWideScreens) {
    const struct { int w, h; float fade, m, th, a; } cases[] = {
        {800, 600, 1.0f, 0.2787879f, 167.27f, 0.2212121f},
        {800, 600, 0.5f, 0.2787879f, 167.27f, 0.1106061f},
        {1280, 720, 1.0f, 0.3717172f, 267.64f, 0.1282828f},
        {1280, 720, 0.0f, 0.3717172f, 267.64f, 0.0f},
        {2000, 800, 1.0f, 0.45f, 360.0f, 0.05f},  // 2.5 : 1
    };
    for (const auto& c : cases) {
        const MenuBand band = menu_band(c.w, c.h, c.fade);
        EXPECT_NEAR(band.m, c.m, 1e-6) << c.w << "x" << c.h;
        EXPECT_NEAR(band.th, c.th, 0.01) << c.w << "x" << c.h;
        EXPECT_NEAR(band.a, c.a, 1e-6) << c.w << "x" << c.h << " fade " << c.fade;
        EXPECT_NEAR(band.b, 1.0f - c.a, 1e-6);
    }
}

// The shader takes a texel's luminance l to (0.7 l, 0.7 l, 0.3 + 0.7 l). Without it the band is
// darkened to 70 % and gets 30 % blue added; a shader that does not build leaves its logs in
// "graphics_error.log". Either way the rows above and below the band are black.
TEST_F(TitleMenu, BandIsTintedBlueGreyBetweenBlackRowsWithOrWithoutAWorkingShader) {
    const char* broken = "void main() { gl_FragColor = no_such_thing; }";
    for (const char* source : {menu_shader_text, static_cast<const char*>(nullptr), broken}) {
        const char* which = source == broken ? "broken shader" : source ? "shader" : "none";
        ScratchDir dir;
        title_menu_forget();
        menu_shader_source = source;
        glClearColor(0.8f, 0.4f, 0.2f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearColor(0.8f, 0.8f, 0.8f, 0.0f);
        clear_rect(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT / 2);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        {
            DriverLeaksIgnored shader_code(source == menu_shader_text);
            title_menu_draw(1.0f);
        }
        for (int y : {0, 95, 673, GL_TEST_HEIGHT - 1})
            expect_rgb(pixel(right, y), {0, 0, 0}, which);
        const Rgb orange = pixel(right, 200), grey = pixel(right, 600);
        expect_rgb(grey, {143, 143, 219}, which);
        if (source == menu_shader_text) {
            EXPECT_NEAR(orange.r, orange.g, 3);
            EXPECT_GT(orange.b, orange.r + 40);
            EXPECT_LT(orange.r, grey.r - 20);  // darker than the grey half: the halves in place
        } else {
            expect_rgb(orange, {143, 71, 112}, which);
        }
        const std::string log = read_file("graphics_error.log");
        for (const char* part : {"fragment shader: ", "no_such_thing", "shader program: "})
            EXPECT_EQ(log.find(part) != std::string::npos, source == broken)
                << which << ": " << log;
    }
}
