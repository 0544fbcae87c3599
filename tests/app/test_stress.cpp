// Stress scenes: the script's stress line and the limits the builder holds itself, the shape of
// the tree, where the rocks go and what the seed decides; the group node's sphere, collisions
// across groups and removal. Then how the scenario's options match their keys.
#include "app/stress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/scenario.h"
#include "app/ship.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "support/game_state.h"
#include "things/asteroid.h"

namespace {

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

}  // namespace

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
