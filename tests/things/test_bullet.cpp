// Bullets and what they strike: asteroids that bounce and split, ships, the side rule's tallies.
#include <algorithm>
#include <array>
#include <vector>

#include "app/main_loop.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/asteroid.h"
#include "things/bullet.h"

namespace {

Vec3 position(const VNode* n) {
    return Vec3{n->frame->current.m[12], n->frame->current.m[13], n->frame->current.m[14]};
}

Thing* rock(double x, double y, double z, double r, Vec3 v, VNode* parent = nullptr) {
    Thing* a = asteroid_create(x, y, z, r, parent);
    a->velocity = v;
    return a;
}

// Anything that is not a Ship: an asteroid, a dendrite box.
const ThingType rock_type = {"rock", sizeof(Thing), nullptr, nullptr, nullptr, nullptr};

// A world with the ship whose bullets score, on a context (hits need the explosion sprite).
class ShipWorld : public WorldTest<GlTest> {
protected:
    void SetUp() override { WorldTest::SetUp(), ship = ship_create(100, 100, 100, world); }
    Ship* ship = nullptr;
};

}  // namespace

// Coincident centres give no direction (no division by zero); a node without velocity or one
// borrowing its frame (pushing it would drag the frame's owner along) is left alone.
TEST(SphereBounce, LeavesCoincidentCentresAndThingsWithoutVelocityOrOwnFrameAlone) {
    Thing* a = rock(0.5, 0, 0, 1.0, Vec3{1, 0, 0});
    Thing* same = rock(0.5, 0, 0, 1.0, Vec3{-1, 0, 0});
    VNode* plain = VNode_create(&bubble_type, nullptr);
    VNode_take_frame(plain, nullptr);
    plain->bound.radius = 1.0;
    Thing* borrowed = VNode_create_thing(&asteroid_type, nullptr);
    borrowed->bound.radius = 1.0;
    sphere_bounce(a, same);
    sphere_bounce(a, plain);
    sphere_bounce(borrowed, a);
    EXPECT_TRUE(a->velocity.x == 1.0 && same->velocity.x == -1.0);
    EXPECT_TRUE(position(a).x == 0.5 && position(same).x == 0.5);
    EXPECT_EQ(frame_shared_identity()->current.m[12], 0.0);
    for (VNode* n : std::initializer_list<VNode*>{a, same, plain, borrowed}) VNode_destroy(n);
}

// A pair already moving apart still exchanges the along-centres parts once, and each is pushed
// out by the whole overlap; seen again in the same pass, nothing happens.
TEST(SphereBounce, OverlappingPairMovingApartStillExchangesAndIsPushedOutByTheWholeOverlap) {
    Thing* a = rock(0, 0, 0, 1.0, Vec3{-1, 0.25, 0});
    Thing* b = rock(1.5, 0, 0, 1.0, Vec3{1, 0, -0.5});
    sphere_bounce(a, b);
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) sphere_bounce(b, a);  // the same pair again: nothing happens
        EXPECT_DOUBLE_EQ(a->velocity.x, 1.0);
        EXPECT_DOUBLE_EQ(b->velocity.x, -1.0);
        EXPECT_TRUE(a->velocity.y == 0.25 && b->velocity.z == -0.5);
        EXPECT_DOUBLE_EQ(position(a).x, -0.5);
        EXPECT_DOUBLE_EQ(position(b).x, 2.0);
    }
    VNode_destroy(a), VNode_destroy(b);
}

// A bullet without a firing ship fizzles and leaves the asteroid whole; the ship's bullets
// break it into at most 16 pieces over 31 scoring hits.
using AsteroidHit = ShipWorld;
TEST_F(AsteroidHit, ForeignBulletFizzlesAndOneAsteroidYieldsAtMost16PiecesAnd31Hits) {
    const auto shoot = [&](Thing* asteroid, VNode* firer) {  // during a collision pass
        const Vec3 c = asteroid->world_centre;
        Bullet* b = bullet_create(c.x, c.y, c.z, 0, 0, -50, firer, world);
        VNode_begin_deferral();
        asteroid_collide(asteroid, b);
        if (!b->spent) VNode_remove(b);
        VNode_end_deferral();
    };
    const auto asteroids = [&] { return children_of(world, &asteroid_type); };
    Thing* a = rock(5, 15, 15, 1.2, Vec3{0, 0, 0}, world);
    const uint32_t before = total_nodes;
    shoot(a, nullptr);
    EXPECT_EQ(a->bound.radius, 1.2);
    EXPECT_EQ(total_nodes, before);  // the bullet is gone and nothing was added
    size_t most = 0;
    for (int round = 0; round < 10 && !asteroids().empty(); round++) {
        for (VNode* piece : asteroids()) shoot(static_cast<Thing*>(piece), ship);
        most = std::max(most, asteroids().size());
    }
    EXPECT_TRUE(asteroids().empty());
    EXPECT_EQ(most, 16u);
    EXPECT_EQ(ship->hits, 31);
    EXPECT_EQ(ship->score, 15 * 5.0 + 16 * 10.0);
}

// A spent bullet leaves the tree, once, whoever reports it again in the same pass.
using Bullets = WorldTest<>;
TEST_F(Bullets, SideRuleInAllFourCombinationsWithTheTallies) {
    Ship* ship = ship_create(0, 0, 0, world);
    Thing* rock = VNode_create_thing(&rock_type, world);
    Ship* other_ship = ship_create(50, 0, 0, world);
    const struct { const char* what; bool ship_fired; VNode* target; int counts; double score; int hits, misses, streak; } cases[] = {
        {"ship's bullet on a rock", true, rock, 1, 7.5, 1, 0, 3},
        {"ship's bullet on a ship", true, other_ship, 0, 0.0, 0, 1, 0},
        {"rock's bullet on a ship", false, other_ship, 1, 0.0, 0, 0, 2},
        {"rock's bullet on a rock", false, rock, 0, 0.0, 0, 0, 2},
    };
    VNode* rock2 = VNode_create_thing(&rock_type, world);
    for (const auto& c : cases) {
        ship->score = 0.0, ship->hits = ship->misses = 0, ship->streak = 2;
        Bullet* b = bullet_create(0, 0, 0, 0, 0, 0, c.ship_fired ? static_cast<VNode*>(ship) : rock2, world);
        b->owner = nullptr;
        VNode_begin_deferral();  // as inside the collision pass
        EXPECT_EQ(bullet_hit(b, c.target, 7.5), c.counts) << c.what;
        EXPECT_TRUE(b->spent) << c.what;
        // Reported again from the other side or by a second target in the same pass.
        EXPECT_EQ(bullet_hit(b, rock, 7.5), 0) << c.what;
        EXPECT_EQ(bullet_fizzle(b), 0) << c.what;
        EXPECT_TRUE(children_of(world, &bullet_type).empty()) << c.what;
        VNode_end_deferral();
        EXPECT_EQ(ship->score, c.score) << c.what;
        EXPECT_EQ((std::array{ship->hits, ship->misses, ship->streak}), (std::array{c.hits, c.misses, c.streak})) << c.what;
    }
}

// The streak glows in its side's colour (green for the ship's, red for the others) and leaves
// the depth mask and blending as it found them.
using BulletDrawing = ShipWorld;
TEST_F(BulletDrawing, GlowsInTheColoursOfItsSide) {
    const Mat4 identity = mat4_identity();
    frame_time = 0.02;
    for (bool ship_side : {true, false}) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        camera_from_frame(&identity);
        const std::string before = gl_test_state();
        // Crossing the view at 50 units/s with the viewer at 45: a short streak.
        viewer_velocity = Vec3{45, 0, 0};
        bullet_plot(bullet_create(0, 0, -2, 50, 0, 0, ship_side ? static_cast<VNode*>(ship) : nullptr, world));
        const unsigned centre = gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2);
        const int strong = ship_side ? 8 : 16, weak = ship_side ? 0 : 8;
        EXPECT_GT((centre >> strong) & 0xFF, 0xC0u) << std::hex << centre;
        EXPECT_LT((centre >> weak) & 0xFF, 0x40u) << std::hex << centre;
        EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2 + 60), 0u);
        EXPECT_EQ(gl_test_state(), before);
    }
    frame_time = 0.0, viewer_velocity = Vec3{0, 0, 0};
}
