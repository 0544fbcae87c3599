#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/ship.h"
#include "platform/window.h"
#include "support/gl_context.h"
#include "things/asteroid.h"
#include "things/bullet.h"
#include "things/smoke.h"
#include "things/splode.h"

namespace {

Vec3 position(const VNode* n) {
    return Vec3{n->frame->current.m[12], n->frame->current.m[13], n->frame->current.m[14]};
}

Thing* rock(double x, double y, double z, double r, Vec3 v, VNode* parent = nullptr) {
    Thing* a = asteroid_create(x, y, z, r, parent);
    a->velocity = v;
    return a;
}

uint32_t count_of(const VNode* parent, const ThingType* type) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < VNode_child_count(parent); i++) {
        if (VNode_child(parent, i)->type == type) n++;
    }
    return n;
}

}  // namespace

TEST(SphereBounce, LeavesCoincidentCentresAndThingsWithoutVelocityOrOwnFrameAlone) {
    Thing* a = rock(0.5, 0, 0, 1.0, Vec3{1, 0, 0});
    Thing* same = rock(0.5, 0, 0, 1.0, Vec3{-1, 0, 0});
    // A plain node has no velocity to exchange.
    VNode* plain = VNode_create(&bubble_type, nullptr);
    VNode_take_frame(plain, nullptr);
    plain->bound.radius = 1.0;
    // Pushing a thing that borrows its frame would drag the frame's owner along.
    Thing* borrowed = VNode_create_thing(&asteroid_type, nullptr);
    borrowed->bound.radius = 1.0;
    sphere_bounce(a, same);
    sphere_bounce(a, plain);
    sphere_bounce(borrowed, a);
    EXPECT_TRUE(a->velocity.x == 1.0 && same->velocity.x == -1.0);
    EXPECT_TRUE(position(a).x == 0.5 && position(same).x == 0.5);
    EXPECT_EQ(frame_shared_identity()->current.m[12], 0.0);
    for (VNode* n : {static_cast<VNode*>(a), static_cast<VNode*>(same), plain,
                     static_cast<VNode*>(borrowed)}) {
        VNode_destroy(n);
    }
}

TEST(SphereBounce, OverlappingPairMovingApartStillExchangesAndIsPushedOutByTheWholeOverlap) {
    Thing* a = rock(0, 0, 0, 1.0, Vec3{-1, 0.25, 0});
    Thing* b = rock(1.5, 0, 0, 1.0, Vec3{1, 0, -0.5});
    sphere_bounce(a, b);
    // The along-centres parts are swapped; the sideways parts stay.
    EXPECT_DOUBLE_EQ(a->velocity.x, 1.0);
    EXPECT_DOUBLE_EQ(b->velocity.x, -1.0);
    EXPECT_EQ(a->velocity.y, 0.25);
    EXPECT_EQ(b->velocity.z, -0.5);
    // Overlap 0.5: each moves out by all of it.
    EXPECT_DOUBLE_EQ(position(a).x, -0.5);
    EXPECT_DOUBLE_EQ(position(b).x, 2.0);
    // The same pair again in the same pass: now apart, nothing happens.
    sphere_bounce(b, a);
    EXPECT_DOUBLE_EQ(a->velocity.x, 1.0);
    EXPECT_DOUBLE_EQ(position(b).x, 2.0);
    VNode_destroy(a);
    VNode_destroy(b);
}

TEST(AsteroidAdvance, DriftsAndFeelsGravityAndThePullWhileTheirKeysAreHeld) {
    Thing* a = rock(2, 0, 0, 1.0, Vec3{1, 0, 0});
    asteroid_advance(a, 0.5);
    EXPECT_DOUBLE_EQ(position(a).x, 2.5);
    EXPECT_EQ(a->velocity.y, 0.0);
    key_state['G'] = 0x80;
    asteroid_advance(a, 0.5);
    EXPECT_DOUBLE_EQ(a->velocity.y, -9.81 * 0.5);
    key_state['G'] = 0;
    key_state['H'] = 0x80;
    asteroid_advance(a, 0.5);  // moves to x = 3.5 first, then is pulled by 0.5 * 3.5
    EXPECT_DOUBLE_EQ(a->velocity.x, 1.0 - 1.75);
    key_state['H'] = 0;
    VNode_destroy(a);
}

TEST(CubeSphere, FiveDivisionsMake600QuadsOfUnitNormalsWithCoordinatesInsideTheTile) {
    struct Tally {
        int corners = 0;
        int per_octant[8] = {};  // quads, by the octant of their corners' mean
        double sum[3] = {};
        double worst_length = 0.0;
        double lowest = 1.0, highest = 0.0;
    } tally;
    cube_sphere_normals(
        5,
        [](void* user, double x, double y, double z) {
            Tally* t = static_cast<Tally*>(user);
            t->corners++;
            t->sum[0] += x;
            t->sum[1] += y;
            t->sum[2] += z;
            if (t->corners % 4 == 0) {
                t->per_octant[(t->sum[0] < 0) + 2 * (t->sum[1] < 0) + 4 * (t->sum[2] < 0)]++;
                t->sum[0] = t->sum[1] = t->sum[2] = 0.0;
            }
            t->worst_length = std::fmax(t->worst_length, std::fabs(std::sqrt(x * x + y * y + z * z) - 1.0));
            double s = 0.0, u = 0.0;
            cube_sphere_texcoord(x, y, z, &s, &u);
            t->lowest = std::fmin(t->lowest, std::fmin(s, u));
            t->highest = std::fmax(t->highest, std::fmax(s, u));
        },
        &tally);
    EXPECT_EQ(tally.corners, 4 * 600);
    for (int o = 0; o < 8; o++) EXPECT_EQ(tally.per_octant[o], 75) << "octant " << o;
    EXPECT_LT(tally.worst_length, 1e-12);
    const double e = 0.999999999;
    EXPECT_GE(tally.lowest, 0.5 - 0.5 * e - 1e-15);
    EXPECT_LE(tally.highest, 0.5 + 0.5 * e + 1e-15);
}

// Hits need the explosion sprite, so a context.
class AsteroidHit : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        world = World_create(0, 0, 0, nullptr);
        ship = ship_create(100, 100, 100, world);
    }
    void TearDown() override { VNode_destroy(world); }

    // One bullet, from the given firer, strikes the asteroid during a collision pass.
    void shoot(Thing* asteroid, VNode* firer) {
        const Vec3 c = asteroid->world_centre;
        Bullet* b = bullet_create(c.x, c.y, c.z, 0, 0, -50, firer, world);
        VNode_begin_deferral();
        asteroid_collide(asteroid, b);
        if (!b->spent) VNode_remove(b);
        VNode_end_deferral();
    }
    std::vector<Thing*> asteroids() const {
        std::vector<Thing*> out;
        for (uint32_t i = 0; i < VNode_child_count(world); i++) {
            VNode* n = VNode_child(world, i);
            if (n->type == &asteroid_type) out.push_back(static_cast<Thing*>(n));
        }
        return out;
    }

    VNode* world = nullptr;
    Ship* ship = nullptr;
};

TEST_F(AsteroidHit, RadiusHalfSplitsIntoTouchingHalvesAndScoresFive) {
    Thing* a = rock(5, 15, 15, 0.5, Vec3{0.5, 0, 0}, world);
    shoot(a, ship);
    const std::vector<Thing*> halves = asteroids();
    ASSERT_EQ(halves.size(), 2u);
    const double r = std::cbrt(0.5) * 0.5;
    EXPECT_NEAR(r, 0.397, 0.0005);
    EXPECT_DOUBLE_EQ(halves[0]->bound.radius, r);
    EXPECT_DOUBLE_EQ(halves[1]->bound.radius, r);
    EXPECT_NEAR(vec3_dist(position(halves[0]), position(halves[1])), 2 * r, 1e-12);
    // They fly apart symmetrically about the old velocity.
    EXPECT_NEAR(halves[0]->velocity.x + halves[1]->velocity.x, 1.0, 1e-12);
    EXPECT_NEAR(halves[0]->velocity.y + halves[1]->velocity.y, 0.0, 1e-12);
    EXPECT_EQ(ship->score, 5.0);
    EXPECT_EQ(ship->hits, 1);
    EXPECT_EQ(count_of(world, &smoke_type), 1u);
    EXPECT_EQ(count_of(world, &splode_type), 1u);
    EXPECT_NE(asteroid_splode_texture, 0u);
}

TEST_F(AsteroidHit, BulletWithoutFiringShipFizzlesAndLeavesItWhole) {
    Thing* a = rock(5, 15, 15, 1.2, Vec3{0, 0, 0}, world);
    const uint32_t before = total_nodes;
    shoot(a, nullptr);
    EXPECT_EQ(asteroids().size(), 1u);
    EXPECT_EQ(a->bound.radius, 1.2);
    EXPECT_EQ(total_nodes, before);  // the bullet is gone and nothing was added
    EXPECT_EQ(ship->score, 0.0);
}

TEST_F(AsteroidHit, OneAsteroidYieldsAtMost16PiecesAnd31ScoringHits) {
    rock(5, 15, 15, 1.2, Vec3{0, 0, 0}, world);
    size_t most = 0;
    for (int round = 0; round < 10 && !asteroids().empty(); round++) {
        for (Thing* a : asteroids()) shoot(a, ship);
        most = std::max(most, asteroids().size());
    }
    EXPECT_TRUE(asteroids().empty());
    EXPECT_EQ(most, 16u);
    EXPECT_EQ(ship->hits, 31);
    EXPECT_EQ(ship->score, 15 * 5.0 + 16 * 10.0);
}
