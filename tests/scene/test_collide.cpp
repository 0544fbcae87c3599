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
#include "scene/work.h"
#include "support/game_state.h"
#include "support/scratch_dir.h"

namespace {

using Pair = std::pair<VNode*, VNode*>;
std::vector<Pair> calls;  // every collide call, in order: (node, other)

void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    frame_translate(&t->frame->current, t->velocity.x * dt, t->velocity.y * dt, t->velocity.z * dt);
}
void ball_collide(VNode* node, VNode* other) { calls.emplace_back(node, other); }

struct Ball : Thing {
    uint32_t number;  // order of creation
};
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

class Collide : public WorldTest<> {
protected:
    void SetUp() override { calls.clear(), WorldTest::SetUp(); }
    void run() {
        VNode_advance_tree(world, 0.0);  // the world's sphere around the start positions
        VNode_remember_frames(world), VNode_advance_tree(world, 1.0);
        calls.clear(), VNode_collide(world);
    }
};

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
void probe_collide(VNode* node, VNode* other) {
    calls.emplace_back(node, other);
    if (crowd) VNode_remove(crowd);
    crowd = nullptr;
}
const ThingType probe_type = {"Probe", sizeof(Ball), ball_advance, nullptr, probe_collide, nullptr};

void no_box(const char*) {}

}  // namespace

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

// The work counters of a pass: every contact reported came from a sphere test, each test from a
// candidate, each node went in through the root; they add up over passes until a reset.
TEST_F(Collide, WorkCountersCountThePassAndAddUpUntilReset) {
    zibu_rand_reset(7);
    std::vector<VNode*> nodes = random_scene(world, 500);
    VNode_reset_counters();
    run();
    const PassWork one = pass_work;
    EXPECT_GT(calls.size(), 0u);
    EXPECT_GE(one.sphere_tests, calls.size() / 2);
    EXPECT_LE(one.sphere_tests, one.candidate_pairs);
    EXPECT_GE(one.cells_touched, nodes.size());
    EXPECT_EQ(one.lights_scored, 0u);
    run();
    EXPECT_GT(pass_work.sphere_tests, one.sphere_tests);
    EXPECT_GT(pass_work.cells_touched, one.cells_touched);
    VNode_reset_counters();
    EXPECT_EQ(pass_work.sphere_tests + pass_work.cells_touched + pass_work.candidate_pairs, 0u);
}

using CollideDeathTest = Collide;
TEST_F(CollideDeathTest, NanPositionIsFatal) {
    ScratchDir dir;
    Thing* t = ball(world, {1, 1, 1}, 1);
    run();
    frame_translate(&t->frame->current, std::numeric_limits<double>::quiet_NaN(), 0, 0);
    VNode_advance_tree(world, 0.0);
    fatal_message_box = no_box;
    EXPECT_EXIT(VNode_collide(world), testing::ExitedWithCode(1), "");
    fatal_message_box = fatal_message_box_show;
    const std::string log = read_file("graphics_error.log");
    EXPECT_TRUE(log.ends_with(" Bounds of the world volume are corrupted in VNode_collide\n")) << log;
}

// Against every pair by the same swept test: each touching pair reported once per visitor
// (also when stored in several cells), from the smaller side when the boxes differ eightfold.
TEST_F(Collide, RandomScenesMatchBruteForce) {
    zibu_rand_reset(7);
    std::vector<VNode*> nodes = random_scene(world, 3000);
    for (int pass = 0; pass < 2; pass++) {
        run();
        EXPECT_GT(collide_stats().cells_used, 10000u) << "the pool must have grown and rebased its links";
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
    Thing* probe = ball(world, {1.0000001, 1, 1}, 3e-7, {0, 0, 0}, &probe_type);
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
