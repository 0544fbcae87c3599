#include <gtest/gtest.h>

#include <algorithm>

#include "scene/advance.h"
#include "scene/vnode.h"
#include "scene_test_types.h"

namespace {

class Tree : public testing::Test {
protected:
    void SetUp() override {
        tree_log.clear();
        nodes_before = total_nodes;
    }
    void TearDown() override {
        if (world) VNode_destroy(world);
        EXPECT_EQ(total_nodes, nodes_before) << "every node destroyed exactly once";
        EXPECT_FALSE(VNode_deferral_active());
    }
    std::vector<VNode*> children(VNode* n) {
        std::vector<VNode*> out;
        for (uint32_t i = 0; i < VNode_child_count(n); i++) out.push_back(VNode_child(n, i));
        return out;
    }
    uint32_t nodes_before = 0;
    VNode* world = nullptr;
};

}  // namespace

TEST_F(Tree, CreationBorrowsTheParentFrameAndLinks) {
    world = World_create(5, 6, 7, nullptr);
    EXPECT_EQ(world->flags, VN_OWN_FRAME | VN_CHILDREN_FIRST | VN_NO_COLLIDE);
    EXPECT_STREQ(world->type->name, "Bubble");
    VNode* plain = VNode_create(&probe_type, world);
    EXPECT_EQ(plain->frame, world->frame);
    EXPECT_EQ(plain->parent, world);
    EXPECT_FALSE(vec3_differs(plain->world_centre, Vec3{5, 6, 7}));
    EXPECT_FALSE(vec3_differs(plain->start_centre, Vec3{5, 6, 7}));
    EXPECT_EQ(plain->bound.radius, 0.0);
    Thing* t = VNode_create_thing(&probe_type, world);
    EXPECT_EQ(t->flags, VN_MOBILE);
    EXPECT_FALSE(vec3_differs(t->velocity, Vec3{0, 0, 0}));
    EXPECT_EQ(children(world), (std::vector<VNode*>{plain, t}));
    EXPECT_EQ(total_nodes, nodes_before + 3);

    // A type whose size leaves no room for the velocity must not be overrun.
    static const ThingType bare = {"bare", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};
    Thing* small = VNode_create_thing(&bare, world);
    small->velocity = Vec3{1, 2, 3};
    EXPECT_EQ(small->velocity.z, 3.0);
}

TEST_F(Tree, TakenFrameIsACopyThatChildrenCreatedEarlierDoNotShare) {
    world = World_create(1, 0, 0, nullptr);
    VNode* a = VNode_create(&probe_type, world);
    VNode* early = VNode_create(&probe_type, a);
    Mat4 m = mat4_identity();
    frame_translate(&m, 0, 9, 0);
    VNode_take_frame(a, &m);
    EXPECT_NE(a->frame, world->frame);
    EXPECT_EQ(a->frame->current.m[13], 9.0);
    EXPECT_EQ(a->frame->previous.m[13], 9.0);
    EXPECT_EQ(early->frame, world->frame);
    VNode_take_frame(a, nullptr);  // already owned: keeps its matrices
    EXPECT_EQ(a->frame->current.m[13], 9.0);
}

TEST_F(Tree, NodeAttachedWithoutParentKeepsTheSharedIdentity) {
    world = World_create(10, 0, 0, nullptr);
    VNode* loose = VNode_create(&probe_type, nullptr);
    EXPECT_EQ(loose->frame, frame_shared_identity());
    loose->bound.centre = Vec3{1, 0, 0};
    VNode_attach(loose, world);
    EXPECT_EQ(loose->parent, world);
    EXPECT_EQ(children(world), std::vector<VNode*>{loose});
    VNode_remember_frames(world);
    EXPECT_FALSE(vec3_differs(loose->world_centre, Vec3{1, 0, 0})) << "not moved by the World's frame";
}

TEST_F(Tree, RemovalMovesTheLastChildIntoTheHoleAndDestroysTheSubtree) {
    world = World_create(0, 0, 0, nullptr);
    Probe* a = make_probe(world, 'a');
    Probe* b = make_probe(world, 'b');
    Probe* c = make_probe(world, 'c');
    make_probe(a, 'x');
    make_probe(a, 'y');
    make_probe(VNode_child(a, 0), 'z');
    uint32_t before = total_nodes;
    VNode_remove(a);
    EXPECT_EQ(children(world), (std::vector<VNode*>{c, b}));
    EXPECT_EQ(total_nodes, before - 4);
    // Children in slot order, each before its parent's own free.
    EXPECT_EQ(tree_log, (std::vector<std::string>{"free z", "free x", "free y", "free a"}));
}

TEST_F(Tree, DeferredRemovalDestroysOnceAfterThePass) {
    world = World_create(0, 0, 0, nullptr);
    Probe* a = make_probe(world, 'a');
    make_probe(a, 'k');
    Probe* b = make_probe(world, 'b');
    uint32_t before = total_nodes;
    VNode_begin_deferral();
    VNode_begin_deferral();  // nested begin changes nothing
    VNode_remove(a);
    VNode_remove(b);
    VNode_remove(a);  // say, a second contact
    EXPECT_EQ(VNode_child_count(world), 0u);
    EXPECT_EQ(total_nodes, before);
    EXPECT_EQ(a->label, 'a') << "still valid inside the pass";
    EXPECT_TRUE(tree_log.empty());
    VNode_end_deferral();
    EXPECT_EQ(total_nodes, before - 3);
    EXPECT_EQ(std::count(tree_log.begin(), tree_log.end(), "free a"), 1);
    EXPECT_EQ(tree_log.size(), 3u);
    VNode_end_deferral();  // not active: nothing
}

TEST_F(Tree, BubbleEnclosesItsChildrenInItsOwnCoordinates) {
    world = World_create(10, 0, 0, nullptr);
    world->bound = BoundSphere{{1, 2, 3}, 4};
    bubble_advance(world, 0.1);
    EXPECT_FALSE(vec3_differs(world->bound.centre, Vec3{1, 2, 3}));
    EXPECT_EQ(world->bound.radius, 4.0) << "no children: unchanged";

    Probe* a = make_probe(world, 'a');
    a->bound.radius = 2;
    a->world_centre = Vec3{13, 0, 0};
    bubble_advance(world, 0.1);
    EXPECT_FALSE(vec3_differs(world->bound.centre, Vec3{3, 0, 0}));
    EXPECT_EQ(world->bound.radius, 2.0);

    Probe* b = make_probe(world, 'b');
    b->bound.radius = 1;
    b->world_centre = Vec3{10, 5, 0};
    Probe* c = make_probe(world, 'c');
    c->bound.radius = 0.5;
    c->world_centre = Vec3{7, -1, 2};
    bubble_advance(world, 0.1);
    for (Probe* p : {a, b, c}) {
        Vec3 local = vec3_sub(p->world_centre, Vec3{10, 0, 0});
        EXPECT_LE(vec3_dist(local, world->bound.centre) + p->bound.radius, world->bound.radius + 1e-12)
            << p->label;
    }
}
