#include <gtest/gtest.h>

#include "scene/advance.h"
#include "scene_test_types.h"

namespace {

class Advance : public testing::Test {
protected:
    void SetUp() override {
        tree_log.clear();
        nodes_before = total_nodes;
        world = World_create(0, 0, 0, nullptr);
    }
    void TearDown() override {
        VNode_destroy(world);
        EXPECT_EQ(total_nodes, nodes_before);
    }
    uint32_t nodes_before = 0;
    VNode* world = nullptr;
};

using Log = std::vector<std::string>;

}  // namespace

TEST_F(Advance, OrderBitsChooseWhenChildrenAdvance) {
    struct Case {
        uint32_t bits;
        Log expected;
    };
    const Case cases[] = {
        {0x00, {"advance p", "advance a", "advance g", "advance b"}},
        {VN_CHILDREN_FIRST, {"advance g", "advance a", "advance b", "advance p"}},
        {0x40, {"advance p"}},
        {0xC0, {"advance p"}},
    };
    for (const Case& c : cases) {
        Probe* p = make_probe(world, 'p');
        Probe* a = make_probe(p, 'a');
        make_probe(p, 'b');
        make_probe(a, 'g');
        p->flags |= c.bits;
        a->flags |= c.bits & VN_CHILDREN_FIRST;  // 0x40 on p alone must hide the grandchild too
        tree_log.clear();
        VNode_advance_tree(p, 0.1);
        EXPECT_EQ(tree_log, c.expected) << "bits " << c.bits;
        VNode_remove(p);
    }
}

TEST_F(Advance, RememberingPinsBothCentresAndThePreviousPose) {
    Probe* a = make_probe(world, 'a');
    a->bound.centre = Vec3{0, 1, 0};
    frame_translate(&a->frame->current, 5, 0, 0);
    frame_rotate_z(&a->frame->current, 3.14159265358979323846 / 2);
    VNode* borrowed = VNode_create(&probe_type, a);
    Mat4 world_previous = world->frame->previous;
    frame_translate(&world->frame->current, 0, 0, 1);
    VNode_remember_frames(world);
    EXPECT_EQ(a->frame->previous.m[12], 5.0);
    EXPECT_EQ(world->frame->previous.m[14], 1.0);
    EXPECT_NE(world->frame->previous.m[14], world_previous.m[14]);
    EXPECT_NEAR(a->world_centre.x, 4.0, 1e-12);  // local y is world -x after the turn
    for (VNode* n : {world, static_cast<VNode*>(a), borrowed})
        EXPECT_FALSE(vec3_differs(n->world_centre, n->start_centre));
}

TEST_F(Advance, MovementRefreshesWorldCentreButNotStartCentre) {
    Probe* a = make_probe(world, 'a');
    a->velocity = Vec3{2, 0, 0};
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.0);
    EXPECT_FALSE(vec3_differs(a->world_centre, a->start_centre)) << "dt = 0 moves nothing";
    VNode_advance_tree(world, 0.5);
    EXPECT_FALSE(vec3_differs(a->world_centre, Vec3{1, 0, 0}));
    EXPECT_FALSE(vec3_differs(a->start_centre, Vec3{0, 0, 0}));
}

TEST_F(Advance, ChildRemovingItselfLetsTheLastChildWaitAndIsFreedAfterThePass) {
    Probe* a = make_probe(world, 'a');
    make_probe(world, 'b');
    make_probe(world, 'c');
    a->on_advance = [](Probe* self) { VNode_remove(self); };
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance b", "free a"}));
    tree_log.clear();
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance c", "advance b"}));
}

TEST_F(Advance, ThingSpawnedDuringTheWalkAdvancesInTheSamePass) {
    Probe* a = make_probe(world, 'a');
    make_probe(world, 'b');
    a->bound.radius = 1.0;
    a->on_advance = [](Probe* self) {
        // Fired from where the spawner stands, into the spawner's parent.
        Probe* s = make_probe(self->parent, 's');
        Mat4 m = self->frame->current;
        VNode_take_frame(s, &m);
        s->world_centre = s->start_centre = frame_point_to_world(&m, 0, 0, 0);
        s->velocity = Vec3{0, 0, 10};
        // Removing another node meanwhile is safe: it is freed after the pass.
        VNode_remove(VNode_child(self->parent, 1));
    };
    a->velocity = Vec3{1, 0, 0};
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.5);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance s", "free b"}));
    VNode* s = VNode_child(world, 1);
    EXPECT_FALSE(vec3_differs(s->start_centre, Vec3{0.5, 0, 0}));
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{0.5, 0, 5}));
    // The World advanced last and encloses its children's new positions.
    EXPECT_NEAR(world->bound.radius, 0.5 * (5.0 + 1.0), 1e-12);
}
