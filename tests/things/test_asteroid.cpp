#include <algorithm>
#include <vector>

#include "app/ship.h"
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

// Hits need the explosion sprite, so a context.
class AsteroidHit : public WorldTest<GlTest> {
protected:
    void SetUp() override { WorldTest::SetUp(), ship = ship_create(100, 100, 100, world); }

    // One bullet, from the given firer, strikes the asteroid during a collision pass.
    void shoot(Thing* asteroid, VNode* firer) {
        const Vec3 c = asteroid->world_centre;
        Bullet* b = bullet_create(c.x, c.y, c.z, 0, 0, -50, firer, world);
        VNode_begin_deferral();
        asteroid_collide(asteroid, b);
        if (!b->spent) VNode_remove(b);
        VNode_end_deferral();
    }
    std::vector<VNode*> asteroids() const { return children_of(world, &asteroid_type); }

    Ship* ship = nullptr;
};

// A bullet without a firing ship fizzles and leaves the asteroid whole; the ship's bullets
// break it into at most 16 pieces over 31 scoring hits.
TEST_F(AsteroidHit, ForeignBulletFizzlesAndOneAsteroidYieldsAtMost16PiecesAnd31Hits) {
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
