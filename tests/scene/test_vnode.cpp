#include <string>
#include <vector>

#include "scene/advance.h"
#include "scene/vnode.h"
#include "support/game_state.h"

namespace {

using Log = std::vector<std::string>;
Log tree_log;  // every advance and free, in order

// Moves by velocity * dt through its own frame; may act once, on its first advance.
struct Probe : Thing {
    char label;
    void (*on_advance)(Probe* self);
    int advances;
};

void probe_advance(VNode* node, double dt) {
    Probe* p = VNode_as<Probe>(node);
    tree_log.push_back(std::string("advance ") + p->label);
    frame_translate(&p->frame->current, p->velocity.x * dt, p->velocity.y * dt, p->velocity.z * dt);
    if (p->advances++ == 0 && p->on_advance) p->on_advance(p);
}
void probe_free(VNode* node) { tree_log.push_back(std::string("free ") + VNode_as<Probe>(node)->label); }
const ThingType probe_type = {"Probe", sizeof(Probe), probe_advance, nullptr, nullptr, probe_free};

Probe* probe(VNode* parent, char label) {
    Probe* p = static_cast<Probe*>(VNode_create_thing(&probe_type, parent));
    VNode_take_frame(p, nullptr), p->label = label;
    return p;
}

class Tree : public WorldTest<> {
protected:
    void SetUp() override { tree_log.clear(), WorldTest::SetUp(); }
    void TearDown() override {
        WorldTest::TearDown();
        EXPECT_FALSE(VNode_deferral_active());
    }
};

}  // namespace

TEST_F(Tree, CreationBorrowsTheParentFrameTakenFramesAreCopiesAndAttachingKeepsTheFrame) {
    VNode_destroy(world);
    world = World_create(5, 6, 7, nullptr);
    VNode* plain = VNode_create(&probe_type, world);
    EXPECT_TRUE(plain->frame == world->frame && plain->parent == world);
    EXPECT_FALSE(vec3_differs(plain->world_centre, Vec3{5, 6, 7}));
    Thing* t = VNode_create_thing(&probe_type, world);
    EXPECT_TRUE(t->flags == VN_MOBILE && !vec3_differs(t->velocity, Vec3{0, 0, 0}));
    EXPECT_EQ(children_of(world), (std::vector<VNode*>{plain, t}));
    // A type whose size leaves no room for the velocity must not be overrun.
    static const ThingType bare = {"bare", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};
    VNode_create_thing(&bare, world)->velocity = Vec3{1, 2, 3};
    VNode* early = VNode_create(&probe_type, plain);
    Mat4 m = mat4_identity();
    frame_translate(&m, 0, 9, 0);
    VNode_take_frame(plain, &m);
    EXPECT_TRUE(plain->frame->current.m[13] == 9.0 && plain->frame->previous.m[13] == 9.0);
    EXPECT_EQ(early->frame, world->frame) << "children created earlier keep the old frame";
    VNode_take_frame(plain, nullptr);  // already owned: keeps its matrices
    EXPECT_EQ(plain->frame->current.m[13], 9.0);
    // A node made without a parent keeps the shared identity when attached later.
    VNode* loose = VNode_create(&probe_type, nullptr);
    loose->bound.centre = Vec3{1, 0, 0};
    VNode_attach(loose, world);
    EXPECT_TRUE(loose->parent == world && loose->frame == frame_shared_identity());
    VNode_remember_frames(world);
    EXPECT_FALSE(vec3_differs(loose->world_centre, Vec3{1, 0, 0})) << "not moved by the World's frame";
}

TEST_F(Tree, RemovalMovesTheLastChildIntoTheHoleAndDestroysTheSubtree) {
    Probe *a = probe(world, 'a'), *b = probe(world, 'b'), *c = probe(world, 'c');
    probe(probe(a, 'x'), 'z');
    probe(a, 'y');
    uint32_t before = total_nodes;
    VNode_remove(a);
    EXPECT_EQ(children_of(world), (std::vector<VNode*>{c, b}));
    EXPECT_EQ(total_nodes, before - 4);
    // Children in slot order, each before its parent's own free.
    EXPECT_EQ(tree_log, (Log{"free z", "free x", "free y", "free a"}));
}

TEST_F(Tree, DeferredRemovalDestroysOnceAfterThePass) {
    Probe* a = probe(world, 'a');
    probe(a, 'k');
    Probe* b = probe(world, 'b');
    uint32_t before = total_nodes;
    VNode_begin_deferral();
    VNode_begin_deferral();  // nested begin changes nothing
    for (Probe* n : {a, b, a}) VNode_remove(n);  // a twice: say, a second contact
    EXPECT_EQ(VNode_child_count(world), 0u);
    EXPECT_EQ(total_nodes, before);
    EXPECT_TRUE(tree_log.empty()) << "a still valid inside the pass";
    VNode_end_deferral();
    EXPECT_EQ(total_nodes, before - 3) << "a freed once";
    VNode_end_deferral();  // not active: nothing
}

TEST_F(Tree, BubbleEnclosesItsChildrenInItsOwnCoordinates) {
    frame_translate(&world->frame->current, 10, 0, 0);
    world->bound = BoundSphere{{1, 2, 3}, 4};
    const struct { Vec3 at; double radius; } kids[] = {{{13, 0, 0}, 2}, {{10, 5, 0}, 1}, {{7, -1, 2}, 0.5}};
    for (const auto& k : kids) {
        Probe* p = probe(world, 'k');
        p->bound.radius = k.radius, p->world_centre = k.at;
    }
    bubble_advance(world, 0.1);
    for (const auto& k : kids) {
        const Vec3 local = vec3_sub(k.at, Vec3{10, 0, 0});
        EXPECT_LE(vec3_dist(local, world->bound.centre) + k.radius, world->bound.radius + 1e-12);
    }
    EXPECT_LT(world->bound.radius, 5.5);
}

TEST_F(Tree, OrderBitsChooseWhenChildrenAdvance) {
    const struct { uint32_t bits; Log expected; } cases[] = {
        {0x00, {"advance p", "advance a", "advance g", "advance b"}},
        {VN_CHILDREN_FIRST, {"advance g", "advance a", "advance b", "advance p"}},
        {0x40, {"advance p"}},
        {0xC0, {"advance p"}},
    };
    for (const auto& c : cases) {
        Probe *p = probe(world, 'p'), *a = probe(p, 'a');
        probe(p, 'b'), probe(a, 'g');
        p->flags |= c.bits;
        a->flags |= c.bits & VN_CHILDREN_FIRST;  // 0x40 on p alone must hide the grandchild too
        tree_log.clear();
        VNode_advance_tree(p, 0.1);
        EXPECT_EQ(tree_log, c.expected) << "bits " << c.bits;
        VNode_remove(p);
    }
}

TEST_F(Tree, ChildRemovingItselfLetsTheLastChildWaitAndIsFreedAfterThePass) {
    Probe* a = probe(world, 'a');
    for (char l : {'b', 'c'}) probe(world, l);
    a->on_advance = [](Probe* self) { VNode_remove(self); };
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance b", "free a"}));
    tree_log.clear();
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance c", "advance b"}));
}

TEST_F(Tree, ThingSpawnedDuringTheWalkAdvancesInTheSamePass) {
    Probe* a = probe(world, 'a');
    probe(world, 'b');
    a->bound.radius = 1.0, a->velocity = Vec3{1, 0, 0};
    a->on_advance = [](Probe* self) {
        // Fired from where the spawner stands, into the spawner's parent.
        Probe* s = probe(self->parent, 's');
        Mat4 m = self->frame->current;
        VNode_take_frame(s, &m);
        s->world_centre = s->start_centre = frame_point_to_world(&m, 0, 0, 0);
        s->velocity = Vec3{0, 0, 10};
        VNode_remove(VNode_child(self->parent, 1));  // freed after the pass
    };
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.5);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance s", "free b"}));
    VNode* s = VNode_child(world, 1);
    EXPECT_TRUE(!vec3_differs(s->start_centre, Vec3{0.5, 0, 0}) && !vec3_differs(s->world_centre, Vec3{0.5, 0, 5}));
    // The World advanced last and encloses its children's new positions.
    EXPECT_NEAR(world->bound.radius, 0.5 * (5.0 + 1.0), 1e-12);
}
