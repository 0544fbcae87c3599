#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/random.h"
#include "platform/errorlog.h"
#include "platform/profile.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "support/scratch_dir.h"

namespace {

using Pair = std::pair<VNode*, VNode*>;
std::vector<Pair> calls;  // every collide call, in order: (node, other)

void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    frame_translate(&t->frame->current, t->velocity.x * dt, t->velocity.y * dt, t->velocity.z * dt);
}
void ball_collide(VNode* node, VNode* other) { calls.emplace_back(node, other); }

const ThingType ball_type = {"Ball", sizeof(Thing), ball_advance, nullptr, ball_collide, nullptr};
const ThingType group_type = {"Group", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};

class Collide : public testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        nodes_before = total_nodes;
        world = World_create(0, 0, 0, nullptr);
    }
    void TearDown() override {
        VNode_destroy(world);
        EXPECT_EQ(total_nodes, nodes_before);
    }
    // A ball at p that moves by v during the one cycle that run() simulates.
    Thing* ball(VNode* parent, Vec3 p, double radius, Vec3 v = {0, 0, 0}) {
        Thing* t = VNode_create_thing(&ball_type, parent);
        VNode_take_frame(t, nullptr);
        frame_translate(&t->frame->current, p.x, p.y, p.z);
        t->bound.radius = radius;
        t->velocity = v;
        return t;
    }
    void run() {
        VNode_advance_tree(world, 0.0);  // the world's sphere around the start positions
        VNode_remember_frames(world);
        VNode_advance_tree(world, 1.0);
        calls.clear();
        VNode_collide(world);
    }
    std::vector<Pair> visits() const {  // the first call of every report
        std::vector<Pair> out;
        for (std::size_t i = 0; i < calls.size(); i += 2) out.push_back(calls[i]);
        return out;
    }
    uint32_t nodes_before = 0;
    VNode* world = nullptr;
};

}  // namespace

TEST_F(Collide, SweptSpheresMeetBetweenStartAndNowOnly) {
    Thing* a = ball(world, {-10, 0, 0}, 1, {20, 0, 0});
    Thing* b = ball(world, {10, 0, 0}, 1, {-20, 0, 0});
    ball(world, {-10, 3, 0}, 1, {20, 0, 0});  // parallel to a, 3 apart: never touches a
    run();
    EXPECT_EQ(calls, (std::vector<Pair>{{a, b}, {b, a}, {b, a}, {a, b}}))
        << "reported from both sides, each time with both calls, visitor first";

    // Closing in but still 4 apart now: the closest approach lies after the cycle.
    Thing* c = ball(world, {50, 0, 0}, 1, {4, 0, 0});
    Thing* d = ball(world, {60, 0, 0}, 1, {0, 0, 0});
    run();
    EXPECT_TRUE(calls.empty()) << "a and b now part, c is still closing in on d";
    EXPECT_FALSE(VNode_swept_hit(c, d));
}

TEST_F(Collide, RadiusZeroIsEnteredButTestsWithRadiusZero) {
    Thing* z1 = ball(world, {5, 5, 5}, 0);
    Thing* z2 = ball(world, {5, 5, 5}, 0);       // same point: touching at distance 0
    Thing* z3 = ball(world, {5.005, 5, 5}, 0);   // within the boxes, yet 0.005 apart
    Thing* s = ball(world, {-5, -5, -5}, 1);
    Thing* t = ball(world, {-5, -5, -3.995}, 0);  // 1.005 from s: out of reach at radius 0
    run();
    std::set<Pair> seen(calls.begin(), calls.end());
    EXPECT_EQ(seen, (std::set<Pair>{{z1, z2}, {z2, z1}}));
    EXPECT_EQ(calls.size(), 4u) << "each radius-0 node finds the other";
    (void)z3, (void)s, (void)t;
}

TEST_F(Collide, NoCollideNodeIsSkippedButItsChildrenAreNot) {
    VNode* group = VNode_create_thing(&ball_type, world);
    VNode_take_frame(group, nullptr);
    group->bound.radius = 5;
    group->flags |= VN_NO_COLLIDE;
    Thing* inner = ball(group, {1, 0, 0}, 1);
    Thing* other = ball(world, {2, 0, 0}, 1);
    run();
    std::set<Pair> seen(calls.begin(), calls.end());
    EXPECT_EQ(seen, (std::set<Pair>{{inner, other}, {other, inner}}));
}

TEST_F(Collide, LoneChildFindsOnlyItself) {
    ball(world, {3, 0, 0}, 2, {1, 0, 0});
    run();
    EXPECT_TRUE(calls.empty());
}

TEST_F(Collide, NodeStoredInSeveralCellsIsReportedOnce) {
    // b straddles the centre of the volume, so it is stored in all eight cells
    // around it; the tiny a queries through each of them.
    Thing* b = ball(world, {0, 0, 0}, 2);
    Thing* a = ball(world, {0, 0, 0}, 0.1);
    for (double s : {-1.0, 1.0}) ball(world, {50 * s, 50 * s, 50 * s}, 1);
    run();
    EXPECT_EQ(calls, (std::vector<Pair>{{a, b}, {b, a}}));
}

TEST_F(Collide, PassIsTimedInFourSections) {
    ball(world, {0, 0, 0}, 1);
    run();
    profile_section(nullptr, 0);
    VNode_collide(world);
    std::vector<std::string> labels;
    const DynArray* slot = &profile_ring[profile_slot];
    for (uint32_t i = 0; i < slot->count; i++) labels.push_back(DynArray_at<ProfileMark>(slot, i).label);
    profile_section(nullptr, 0);
    EXPECT_EQ(labels, (std::vector<std::string>{"VNode_collide:bounds", "VNode_collide_add", "VNode_collide_detect",
                                                "VNode_collide:free"}));
}

class CollideDeathTest : public Collide {};

void no_box(const char*) {}

TEST_F(CollideDeathTest, NanPositionIsFatal) {
    ScratchDir dir;
    Thing* t = ball(world, {1, 1, 1}, 1);
    run();
    frame_translate(&t->frame->current, std::numeric_limits<double>::quiet_NaN(), 0, 0);
    VNode_advance_tree(world, 0.0);
    fatal_message_box = no_box;
    EXPECT_EXIT(VNode_collide(world), testing::ExitedWithCode(1), "");
    fatal_message_box = fatal_message_box_show;
    std::ifstream log("graphics_error.log");
    std::string line;
    std::getline(log, line);
    EXPECT_TRUE(line.ends_with(" Bounds of the world volume are corrupted in VNode_collide")) << line;
}

// Random scenes against a brute-force pass over every pair with the same
// swept test: every touching pair is reported, from the smaller node's side
// when the sizes differ a lot, and nothing else is.
TEST_F(Collide, RandomScenesMatchBruteForce) {
    zibu_rand_reset(7);
    auto uniform = [](double lo, double hi) { return lo + random_real(hi - lo); };
    auto direction = [&](double speed) {
        return Vec3{uniform(-1, 1) * speed, uniform(-1, 1) * speed, uniform(-1, 1) * speed};
    };
    VNode* group = VNode_create(&group_type, world);
    group->flags |= VN_NO_COLLIDE;
    std::vector<VNode*> nodes;
    for (int i = 0; i < 3000; i++) {
        Vec3 p = {uniform(-100, 100), uniform(-100, 100), uniform(-100, 100)};
        int kind = random_int(20);
        double radius = kind == 0 ? uniform(8, 30) : kind == 1 ? 0.0 : uniform(0.05, 1.5);
        Vec3 v = kind == 2 ? direction(60) : direction(2);
        VNode* parent = world;
        if (kind == 3) parent = group;
        if (kind == 4 && !nodes.empty()) parent = nodes[static_cast<std::size_t>(random_int(static_cast<int32_t>(nodes.size())))];
        nodes.push_back(ball(parent, p, radius, v));
    }
    for (int pass = 0; pass < 2; pass++) {
        run();
        CollideStats st = collide_stats();
        EXPECT_GT(st.cells_used, 10000u) << "the pool must have grown and rebased its links";

        // The normalised width of each swept box, as the octree sees it.
        double lo[3], ext[3];
        const double ws[3] = {world->start_centre.x, world->start_centre.y, world->start_centre.z};
        const double wn[3] = {world->world_centre.x, world->world_centre.y, world->world_centre.z};
        for (int a = 0; a < 3; a++) {
            lo[a] = std::min(ws[a], wn[a]) - world->bound.radius;
            ext[a] = std::max(ws[a], wn[a]) + world->bound.radius - lo[a];
        }
        auto width = [&](const VNode* n) {
            const double s[3] = {n->start_centre.x, n->start_centre.y, n->start_centre.z};
            const double w[3] = {n->world_centre.x, n->world_centre.y, n->world_centre.z};
            double widest = 0;
            for (int a = 0; a < 3; a++)
                widest = std::max(widest, (std::fabs(s[a] - w[a]) + 2 * std::max(n->bound.radius, 0.01)) / ext[a]);
            return widest;
        };

        ASSERT_EQ(calls.size() % 2, 0u);
        for (std::size_t i = 0; i < calls.size(); i += 2)
            ASSERT_EQ(calls[i + 1], Pair(calls[i].second, calls[i].first));
        std::vector<Pair> v = visits();
        std::set<Pair> visited(v.begin(), v.end());
        ASSERT_EQ(visited.size(), v.size()) << "a visitor reports each contact once";
        for (const Pair& p : v) ASSERT_TRUE(VNode_swept_hit(p.first, p.second)) << "reported without touching";
        std::size_t touching = 0, lopsided = 0;
        for (std::size_t i = 0; i < nodes.size(); i++) {
            for (std::size_t j = i + 1; j < nodes.size(); j++) {
                VNode* a = nodes[i];
                VNode* b = nodes[j];
                if (!VNode_swept_hit(a, b)) continue;
                touching++;
                bool from_a = visited.count({a, b}) != 0;
                bool from_b = visited.count({b, a}) != 0;
                ASSERT_TRUE(from_a || from_b) << "touching pair " << i << ", " << j << " missed";
                double wa = width(a), wb = width(b);
                if (std::max(wa, wb) < 8 * std::min(wa, wb)) continue;
                lopsided++;
                bool a_smaller = wa < wb;
                EXPECT_TRUE(a_smaller ? from_a && !from_b : from_b && !from_a)
                    << "a lopsided pair is found from the smaller side only";
            }
        }
        EXPECT_GT(visited.size(), touching) << "most contacts are seen from both sides";
        EXPECT_GT(lopsided, 50u);
        // Second pass: the same scene moved on once more, on the reused pool.
        for (VNode* n : nodes) VNode_as<Thing>(n)->velocity = direction(3);
    }
}
