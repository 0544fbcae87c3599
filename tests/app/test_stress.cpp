// Stress scenes: the shape of the tree, where the rocks go, the same scene from the same seed,
// and the group node's sphere, removal and collisions.
#include "app/stress.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/ship.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "things/asteroid.h"

namespace {

struct Walk {
    uint32_t rocks = 0, groups = 0, fan_out = 0;
    bool rocks_at_depth = true, groups_not_empty = true;
    std::vector<Vec3> places;
};

void walk(const VNode* node, uint32_t level, uint32_t depth, Walk* w) {
    for (uint32_t i = 0; i < VNode_child_count(node); i++) {
        const VNode* child = VNode_child(node, i);
        if (child->type == &asteroid_type) {
            w->rocks++;
            w->rocks_at_depth = w->rocks_at_depth && level + 1 == depth;
            w->places.push_back(frame_point_to_world(&child->frame->current, 0, 0, 0));
            EXPECT_TRUE(child->bound.radius >= 0.3 && child->bound.radius < 1.5);
        } else if (child->type == &group_node_type) {
            w->groups++;
            const uint32_t n = VNode_child_count(child);
            w->groups_not_empty = w->groups_not_empty && n > 0;
            if (n > w->fan_out) w->fan_out = n;
            walk(child, level + 1, depth, w);
        }
    }
}

struct Scene {
    VNode* world = World_create(0, 0, 0, nullptr);
    Ship* ship = ship_create(20, 20, 20, world);
    Walk w;
    Scene(uint32_t n, uint32_t depth, uint32_t seed) {
        stress_populate(world, ship, n, depth, seed);
        walk(world, 0, depth, &w);
    }
    ~Scene() { VNode_destroy(world); }
};

}  // namespace

TEST(StressScene, TreesOfEveryDepthHoldEveryRockAtTheBottom) {
    const uint32_t before = total_nodes;
    struct Case {
        uint32_t n, depth, fan_out;
    };
    for (const Case c : {Case{1, 1, 1}, Case{1, 8, 1}, Case{1000, 1, 1000}, Case{2000, 3, 13},
                         Case{100, 2, 10}, Case{101, 2, 11}, Case{9, 3, 3}}) {
        EXPECT_EQ(stress_fan_out(c.n, c.depth), c.fan_out) << c.n << " " << c.depth;
        Scene s(c.n, c.depth, 1);
        EXPECT_EQ(s.w.rocks, c.n);
        EXPECT_TRUE(s.w.rocks_at_depth && s.w.groups_not_empty) << c.n << " " << c.depth;
        // The world holds the ship and at most fan_out groups or rocks.
        EXPECT_LE(VNode_child_count(s.world), c.fan_out + 1);
        EXPECT_LE(s.w.fan_out, c.fan_out);
        EXPECT_EQ(total_nodes, before + 2 + c.n + s.w.groups);
        // One rock per thousand cubic units, in the cube around the ship, clear of it.
        const double half = stress_cube_side(c.n) / 2;
        for (const Vec3& p : s.w.places) {
            EXPECT_TRUE(std::fabs(p.x - 20) <= half && std::fabs(p.y - 20) <= half &&
                        std::fabs(p.z - 20) <= half);
            EXPECT_GT(vec3_dist(p, Vec3{20, 20, 20}), SHIP_RADIUS + 0.3);
        }
    }
    EXPECT_NEAR(stress_cube_side(1000), 100.0, 1e-9);
    EXPECT_NEAR(stress_cube_side(1000000), 1000.0, 1e-9);
    EXPECT_EQ(stress_fan_out(1000000, 4), 32u);  // 31^4 = 923,521 is too few
    EXPECT_EQ(total_nodes, before);
}

TEST(StressScene, TheSeedDecidesTheScene) {
    Scene a(300, 2, 7), b(300, 2, 7), c(300, 2, 8);
    ASSERT_EQ(a.w.places.size(), 300u);
    bool same = true, other = false;
    for (size_t i = 0; i < a.w.places.size(); i++) {
        same = same && !vec3_differs(a.w.places[i], b.w.places[i]);
        other = other || vec3_differs(a.w.places[i], c.w.places[i]);
    }
    EXPECT_TRUE(same && other);
}

// A group's sphere encloses its children once they have moved; the collision pass meets rocks
// of different groups; a group left without children goes.
TEST(GroupNode, EnclosesItsChildrenMeetsOtherGroupsAndGoesWhenEmpty) {
    const uint32_t before = total_nodes;
    VNode* world = World_create(0, 0, 0, nullptr);
    VNode* left = Group_create(world);
    VNode* right = Group_create(Group_create(world));
    Thing* a = asteroid_create(0, 0, 0, 1.0, left);
    Thing* far = asteroid_create(-30, 4, 2, 0.5, left);
    Thing* b = asteroid_create(1.5, 0, 0, 1.0, right);
    a->velocity = Vec3{1, 0, 0};
    b->velocity = Vec3{-1, 0, 0};
    far->velocity = Vec3{0, 0, 0};
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.1);
    for (const Thing* t : {a, far}) {
        const double d = vec3_dist(left->world_centre, t->world_centre);
        EXPECT_LE(d + t->bound.radius, left->bound.radius + 1e-9);
    }
    VNode_collide(world);
    EXPECT_LT(a->velocity.x, 0.0);  // bounced off the rock two levels down the other side
    EXPECT_GT(b->velocity.x, 0.0);

    VNode_remove(b);
    // The group of b goes, and so its parent, which advances after it.
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(VNode_child_count(world), 1u);
    VNode_destroy(world);
    EXPECT_EQ(total_nodes, before);
}
