// The tree and its passes: creation, frames, removal (deferred or not), the advance walk's order,
// and the collision pass against brute force.
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "foundation/random.h"
#include "platform/errorlog.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "scene/plot.h"
#include "scene/vnode.h"
#include "scene/work.h"
#include "support/game_state.h"
#include "support/scratch_dir.h"

namespace {

using Log = std::vector<std::string>;
Log tree_log;  // every advance and free, in order

// Moves by velocity * dt through its own frame; may act once, on its first advance.
struct Probe : Thing { char label; void (*on_advance)(Probe* self); int advances; };

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

using Pair = std::pair<VNode*, VNode*>;
std::vector<Pair> calls;  // every collide call, in order: (node, other)

void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    frame_translate(&t->frame->current, t->velocity.x * dt, t->velocity.y * dt, t->velocity.z * dt);
}
void ball_collide(VNode* node, VNode* other) { calls.emplace_back(node, other); }

struct Ball : Thing { uint32_t number; };  // numbered in the order of creation
uint32_t balls_made = 0;

const ThingType ball_type = {"Ball", sizeof(Ball), ball_advance, nullptr, ball_collide, nullptr};
const ThingType group_type = {"Group", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};

// A ball at p that moves by v during the one cycle that run() simulates.
Thing* ball(VNode* parent, Vec3 p, double radius, Vec3 v = {0, 0, 0}, const ThingType* type = &ball_type) {
    Ball* t = VNode_as<Ball>(VNode_create_thing(type, parent));
    t->number = balls_made++, t->bound.radius = radius, t->velocity = v;
    VNode_take_frame(t, nullptr);
    frame_translate(&t->frame->current, p.x, p.y, p.z);
    return t;
}

double uniform(double lo, double hi) { return lo + random_real(hi - lo); }
Vec3 velocity(double s) { return Vec3{uniform(-s, s), uniform(-s, s), uniform(-s, s)}; }

// Balls spread over a cube of side 200: some large, some of radius 0, some fast, some in a group
// that is not tested itself, some nested in others.
std::vector<VNode*> random_scene(VNode* world, int count, const ThingType* type = &ball_type) {
    VNode* group = VNode_create(&group_type, world);
    group->flags |= VN_NO_COLLIDE;
    std::vector<VNode*> nodes;
    for (int i = 0; i < count; i++) {
        int kind = random_int(20);
        VNode* parent = kind == 3 ? group : kind == 4 && i > 0 ? nodes[static_cast<std::size_t>(random_int(i))] : world;
        Vec3 p = {uniform(-100, 100), uniform(-100, 100), uniform(-100, 100)};
        double radius = kind == 0 ? uniform(8, 30) : kind == 1 ? 0.0 : uniform(0.05, 1.5);
        nodes.push_back(ball(parent, p, radius, velocity(kind == 2 ? 60 : 2), type));
    }
    return nodes;
}

// Handlers that do what the game's do in the middle of the pass: shrink the node (a split), add
// a twin beside it, remove the other node.
uint64_t order_hash = 0;
void churn_collide(VNode* node, VNode* other);
const ThingType churn_type = {"Churn", sizeof(Ball), ball_advance, nullptr, churn_collide, nullptr};
void churn_collide(VNode* node, VNode* other) {
    for (VNode* n : {node, other}) order_hash = (order_hash ^ VNode_as<Ball>(n)->number) * 0x100000001B3ull;  // FNV-1a
    calls.emplace_back(node, other);
    if (calls.size() % 11 == 0) {
        node->bound.radius *= 0.7;
        Vec3 c = node->world_centre;
        ball(node->parent, {c.x + node->bound.radius, c.y, c.z}, node->bound.radius, {0, 0, 0}, &churn_type);
    }
    if (calls.size() % 13 == 0) VNode_remove(other);
}

void shrink_other_collide(VNode* node, VNode* other) { calls.emplace_back(node, other), other->bound.radius = 0.0; }
const ThingType shrinker_type = {"Shrinker", sizeof(Ball), ball_advance, nullptr, shrink_other_collide, nullptr};

// The probe's handler takes the crowd out of the walk at the first contact, so that only the
// probe queries through it.
VNode* crowd = nullptr;
void seeker_collide(VNode* node, VNode* other) {
    calls.emplace_back(node, other);
    if (crowd) VNode_remove(crowd);
    crowd = nullptr;
}
const ThingType seeker_type = {"Probe", sizeof(Ball), ball_advance, nullptr, seeker_collide, nullptr};

// A fresh world; no deferral left active. run() simulates one cycle and then the collision pass.
class Tree : public WorldTest<> {
protected:
    void SetUp() override { tree_log.clear(), calls.clear(), WorldTest::SetUp(); }
    void TearDown() override {
        WorldTest::TearDown();
        EXPECT_FALSE(VNode_deferral_active());
    }
    void run() {
        VNode_advance_tree(world, 0.0);  // the world's sphere around the start positions
        VNode_remember_frames(world), VNode_advance_tree(world, 1.0);
        calls.clear(), VNode_collide(world);
    }
};
using Collide = Tree;

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
        {0x40, {"advance p"}}, {0xC0, {"advance p"}},
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

// Pairs alone in a world (the far ball gives it its extent), touching or not over one cycle.
TEST_F(Collide, SweptSpheresMeetBetweenStartAndNowOnlyAndRadiusZeroTestsAsZero) {
    const struct { Vec3 p, v; double r; Vec3 q, w; double s; bool hit; } cases[] = {
        {{-10, 0, 0}, {20, 0, 0}, 1, {10, 0, 0}, {-20, 0, 0}, 1, true},  // crossing
        {{-10, 3, 0}, {20, 0, 0}, 1, {10, 0, 0}, {-20, 0, 0}, 1, false},  // 3 apart as they pass
        {{50, 0, 0}, {4, 0, 0}, 1, {60, 0, 0}, {}, 1, false},  // closest approach after the cycle
        {{5, 5, 5}, {}, 0, {5, 5, 5}, {}, 0, true},            // one point
        {{5, 5, 5}, {}, 0, {5.005, 5, 5}, {}, 0, false},       // in each other's boxes only
        {{-5, -5, -5}, {}, 1, {-5, -5, -3.995}, {}, 0, false},
    };
    for (const auto& c : cases) {
        Thing* a = ball(world, c.p, c.r, c.v);
        Thing* b = ball(world, c.q, c.s, c.w);
        Thing* far = ball(world, {100, 100, 100}, 1);
        run();
        const std::vector<Pair> both = {{a, b}, {b, a}, {b, a}, {a, b}};  // each side, visitor first
        EXPECT_EQ(calls, c.hit ? both : std::vector<Pair>{}) << c.q.x;
        for (VNode* n : {a, b, far}) VNode_remove(n);
    }
}

TEST_F(Collide, NoCollideNodeIsSkippedButItsChildrenAreNot) {
    Thing* group = ball(world, {0, 0, 0}, 5);
    group->flags |= VN_NO_COLLIDE;
    Thing* inner = ball(group, {1, 0, 0}, 1);
    Thing* other = ball(world, {2, 0, 0}, 1);
    run();
    EXPECT_EQ(std::set<Pair>(calls.begin(), calls.end()), (std::set<Pair>{{inner, other}, {other, inner}}));
}

using CollideDeathTest = Collide;
TEST_F(CollideDeathTest, NanPositionIsFatal) {
    ScratchDir dir;
    Thing* t = ball(world, {1, 1, 1}, 1);
    run();
    frame_translate(&t->frame->current, std::numeric_limits<double>::quiet_NaN(), 0, 0);
    VNode_advance_tree(world, 0.0);
    fatal_message_box = [](const char*) {};
    EXPECT_EXIT(VNode_collide(world), testing::ExitedWithCode(1), "");
    fatal_message_box = fatal_message_box_show;
    const std::string log = read_file("graphics_error.log");
    EXPECT_TRUE(log.ends_with(" Bounds of the world volume are corrupted in VNode_collide\n")) << log;
}

// Against every pair by the same swept test: each touching pair reported once per visitor
// (also when stored in several cells), from the smaller side when the boxes differ eightfold.
// The work counters: every contact from a sphere test, each test from a candidate, every node
// in through the root; they add up over passes until a reset.
TEST_F(Collide, RandomScenesMatchBruteForceAndCountTheirWork) {
    zibu_rand_reset(7);
    std::vector<VNode*> nodes = random_scene(world, 3000);
    VNode_reset_counters();
    PassWork one{};
    for (int pass = 0; pass < 2; pass++) {
        run();
        EXPECT_GT(collide_stats().cells_used, 10000u) << "the pool must have grown and rebased its links";
        if (pass == 0) {
            one = pass_work;
            EXPECT_GE(one.sphere_tests, calls.size() / 2);
            EXPECT_LE(one.sphere_tests, one.candidate_pairs);
            EXPECT_GE(one.cells_touched, nodes.size());
            EXPECT_EQ(one.lights_scored, 0u);
        }
        // Widest side of a node's swept box against the world's, as the octree sees it.
        auto width = [&](const VNode* n) {
            double widest = 0;
            for (auto c : {&Vec3::x, &Vec3::y, &Vec3::z}) {
                double world_side = std::fabs(world->start_centre.*c - world->world_centre.*c) + 2 * world->bound.radius;
                double side = std::fabs(n->start_centre.*c - n->world_centre.*c) + 2 * std::max(n->bound.radius, 0.01);
                widest = std::max(widest, side / world_side);
            }
            return widest;
        };
        ASSERT_EQ(calls.size() % 2, 0u);
        std::set<Pair> visited;
        for (std::size_t i = 0; i < calls.size(); i += 2) {
            ASSERT_EQ(calls[i + 1], Pair(calls[i].second, calls[i].first)) << "both calls, visitor first";
            ASSERT_TRUE(visited.insert(calls[i]).second) << "a visitor reports each contact once";
            ASSERT_TRUE(VNode_swept_hit(calls[i].first, calls[i].second)) << "reported without touching";
        }
        std::size_t lopsided = 0;
        for (std::size_t i = 0; i < nodes.size(); i++) {
            for (std::size_t j = i + 1; j < nodes.size(); j++) {
                VNode *a = nodes[i], *b = nodes[j];
                if (!VNode_swept_hit(a, b)) continue;
                bool from_a = visited.count({a, b}) != 0, from_b = visited.count({b, a}) != 0;
                ASSERT_TRUE(from_a || from_b) << "touching pair missed";
                double wa = width(a), wb = width(b);
                if (std::max(wa, wb) < 8 * std::min(wa, wb)) continue;
                lopsided++;
                EXPECT_TRUE(wa < wb ? from_a && !from_b : from_b && !from_a) << "lopsided pair from the larger side";
            }
        }
        EXPECT_GT(lopsided, 50u);
        for (VNode* n : nodes) VNode_as<Thing>(n)->velocity = velocity(3);  // on, over the reused pool
    }
    EXPECT_GT(pass_work.sphere_tests, one.sphere_tests);
    EXPECT_GT(pass_work.cells_touched, one.cells_touched);
    VNode_reset_counters();
    EXPECT_EQ(pass_work.sphere_tests + pass_work.cells_touched + pass_work.candidate_pairs, 0u);
}

// The order of the calls is part of what the pass promises: as first recorded, pass after pass.
TEST_F(Collide, CallOrderOfABusySceneStaysAsRecorded) {
    zibu_rand_reset(11);
    balls_made = 0;
    random_scene(world, 2000, &churn_type);
    order_hash = 0xCBF29CE484222325ull;
    std::size_t total = 0;
    for (int pass = 0; pass < 3; pass++) {
        run();
        total += calls.size();
    }
    EXPECT_EQ(total, 9156u);
    EXPECT_EQ(order_hash, 17257141669246341549ull);
}

// A handler that changes the other node's sphere changes what the rest of the pass tests: the
// middle ball, shrunk to a point by the first visitor's handler, no longer reaches the last.
TEST_F(Collide, SphereChangedByAHandlerIsTestedAsChangedForTheRestOfThePass) {
    Thing* first = ball(world, {0, 0, 0}, 1, {0, 0, 0}, &shrinker_type);
    Thing* middle = ball(world, {1.5, 0, 0}, 1);
    ball(world, {3, 0, 0}, 1);
    ball(world, {100, 100, 100}, 1);  // gives the world its extent
    run();
    EXPECT_EQ(calls, (std::vector<Pair>{{first, middle}, {middle, first}}));
}

// More nodes in the cells of one query than the 10,000 the candidate list once held: 22^3
// points a millionth apart, all in the same cells, and a probe touching one of them.
TEST_F(Collide, CrowdedCellsLoseNoContact) {
    Thing* probe = ball(world, {1.0000001, 1, 1}, 3e-7, {0, 0, 0}, &seeker_type);
    crowd = VNode_create(&group_type, world);
    crowd->flags |= VN_NO_COLLIDE;
    Thing* touched = ball(crowd, {1, 1, 1}, 0);
    auto at = [](int i) { return 1 + 1e-6 * i; };
    for (int k = 1; k < 22 * 22 * 22; k++) ball(crowd, {at(k % 22), at(k / 22 % 22), at(k / 484)}, 0);
    ball(world, {100, 100, 100}, 1);  // gives the world its extent
    run();
    EXPECT_GT(collide_stats().candidates_most, 10000u);
    EXPECT_EQ(calls, (std::vector<Pair>{{probe, touched}, {touched, probe}}));
}
