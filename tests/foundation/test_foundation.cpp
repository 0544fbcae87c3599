#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "foundation/dynarray.h"
#include "foundation/frame.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "foundation/util.h"

namespace {

Vec3 axis(const Mat4& m, int c) { return Vec3{m.m[4 * c], m.m[4 * c + 1], m.m[4 * c + 2]}; }

using Ints = std::vector<int>;

Ints contents(const DynArray* a) {
    const int* p = DynArray_items<int>(a);
    return Ints(p, p + a->count);
}

DynArray ints(std::initializer_list<int> values) {
    DynArray a;
    DynArray_init_of<int>(&a);
    for (int v : values) DynArray_push_value(&a, v);
    return a;
}

// Units in the last place between two doubles of one sign.
int64_t ulps_apart(double a, double b) {
    const int64_t x = std::bit_cast<int64_t>(a), y = std::bit_cast<int64_t>(b);
    return x > y ? x - y : y - x;
}

}  // namespace

TEST(DynArray, GrowsAndShrinksWithHysteresisKeepingElementsAndTheMinimum) {
    DynArray a = ints({});
    std::vector<uint32_t> capacities{a.capacity};
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(DynArray_push_value(&a, i * 7), static_cast<uint32_t>(i));
        if (a.capacity != capacities.back()) capacities.push_back(a.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 3, 5, 7, 10, 13, 17, 22, 28, 36, 46}));
    for (int i = 0; i < 40; i++) EXPECT_EQ(DynArray_at<int>(&a, i), i * 7);
    DynArray_free(a);
    DynArray b = ints({1, 2, 3, 4, 5});
    DynArray_remove(&b, 4), DynArray_remove(&b, 3);
    EXPECT_EQ(b.capacity, 5u) << "3 of 5 is exactly 60 %: no shrink";
    DynArray_remove(&b, 2);
    EXPECT_EQ(b.capacity, 2u);
    DynArray_free(b);
    DynArray c;  // emptied, it stops at its minimum with the storage still usable
    DynArray_init_sized(&c, sizeof(int), 4, 0);
    for (int i = 0; i < 20; i++) DynArray_push_value(&c, i);
    while (c.count) DynArray_remove(&c, 0);
    for (int v : {9, 8, 7, 6}) DynArray_push_value(&c, v);
    EXPECT_EQ(contents(&c), (Ints{9, 8, 7, 6}));
    EXPECT_EQ(c.capacity, 4u);
    DynArray_free(c);
}

TEST(DynArray, RemovalOrderFindAndOutOfRangeIndices) {
    DynArray a = ints({10, 20, 30});
    for (uint32_t i : {0u, 2u, 1000u}) DynArray_remove(&a, i);
    EXPECT_EQ(contents(&a), (Ints{30, 20})) << "the last moves into the hole";
    DynArray_free(a);
    DynArray b = ints({10, 20, 30, 40, 50});
    DynArray_remove_ordered(&b, 1), DynArray_remove_ordered(&b, 4);
    EXPECT_EQ(contents(&b), (Ints{10, 30, 40, 50}));
    DynArray_free(b);
    DynArray f = ints({5, 7, 5, 9});
    int five = 5, missing = 6;
    EXPECT_EQ(DynArray_find(&f, &five), 2) << "the higher of two equal elements";
    EXPECT_EQ(DynArray_find(&f, &missing), -1);
    DynArray_remove_value(&f, &five), DynArray_remove_value(&f, &missing);
    EXPECT_EQ(contents(&f), (Ints{5, 7, 9}));
    DynArray_free(f);
}

TEST(DynArray, TrackedVariableFollowsEveryMoveAndAPushedOwnElementSurvivesGrowth) {
    DynArray a = ints({});
    int* view = nullptr;
    DynArray_track(&a, &view);
    EXPECT_EQ(view, a.data) << "set at once";
    for (int i = 0; i < 30; i++) {
        DynArray_push_value(&a, i);
        ASSERT_EQ(view, a.data);
    }
    while (a.count > 2) {
        DynArray_remove(&a, 0);
        ASSERT_EQ(view, a.data);
    }
    DynArray_clear(&a);
    EXPECT_EQ(view, a.data);
    DynArray_free(a);
    EXPECT_EQ(view, nullptr);
    DynArray b = ints({42, 43});
    DynArray_push(&b, &DynArray_at<int>(&b, 0));  // storage moves during this push
    EXPECT_EQ(contents(&b), (Ints{42, 43, 42}));
    DynArray_free(b);
}

TEST(Frame, QuarterTurnsFollowTheRightHandRule) {
    const struct { void (*turn)(Mat4*, double); int column; Vec3 want; } cases[] = {{frame_rotate_x, 1, {0, 0, 1}}, {frame_rotate_x, 2, {0, -1, 0}},
                 {frame_rotate_y, 2, {1, 0, 0}}, {frame_rotate_z, 0, {0, 1, 0}}};
    for (const auto& c : cases) {
        Mat4 m = mat4_identity();
        c.turn(&m, M_PI / 2);
        EXPECT_LE(vec3_dist(axis(m, c.column), c.want), 1e-12) << c.column;
    }
}

TEST(Frame, OrthonormalizeKeepsExactFramesAndRepairsDrift) {
    Mat4 exact = mat4_identity();
    exact.m[0] = 0, exact.m[1] = 1, exact.m[4] = -1, exact.m[5] = 0;  // quarter turn about z
    Mat4 copy = exact;
    frame_orthonormalize(&copy);
    for (int i = 0; i < 16; i++) EXPECT_EQ(copy.m[i], exact.m[i]) << i;
    Mat4 drifted = mat4_identity();
    frame_rotate_x(&drifted, 0.3), frame_rotate_y(&drifted, -1.1), frame_rotate_z(&drifted, 2.0);
    frame_translate(&drifted, 4.0, -5.0, 6.0);
    drifted.m[0] += 1e-4, drifted.m[5] -= 2e-4, drifted.m[9] += 3e-4;
    frame_orthonormalize(&drifted);
    for (int r = 0; r < 3; r++) {
        const int s = (r + 1) % 3;
        Vec3 a{drifted.m[r], drifted.m[r + 4], drifted.m[r + 8]}, b{drifted.m[s], drifted.m[s + 4], drifted.m[s + 8]};
        EXPECT_NEAR(vec3_len(a), 1.0, 1e-14);
        EXPECT_NEAR(vec3_dot(a, b), 0.0, 1e-7);
    }
    EXPECT_EQ(drifted.m[12], 4.0) << "translation untouched";
}

TEST(BoundSphere, AddSphereEnclosesBothMinimally) {
    const struct { BoundSphere s; Vec3 c; double r; BoundSphere want; } cases[] = {
        {{{0, 0, 0}, 1}, {3, 0, 0}, 1, {{1.5, 0, 0}, 2.5}},    // apart
        {{{0, 0, 0}, 1}, {0.5, 0, 0}, 0.1, {{0, 0, 0}, 1}},    // inside: unchanged
        {{{2, 2, 2}, 1}, {2, 2, 2}, 2, {{2, 2, 2}, 2}},        // same centre
        {{{1, 0, 0}, 0.5}, {0, 0, 0}, 3, {{0, 0, 0}, 3}},      // swallowed by the new one
    };
    for (const auto& k : cases) {
        BoundSphere s = k.s;
        bound_add_sphere(&s, k.c, k.r);
        EXPECT_LE(vec3_dist(s.centre, k.want.centre), 1e-12) << k.c.x;
        EXPECT_NEAR(s.radius, k.want.radius, 1e-12) << k.c.x;
    }
    BoundSphere bad{{0, 0, 0}, 1};
    bound_add_sphere(&bad, Vec3{1, 0, 0}, std::nan(""));
    EXPECT_TRUE(std::isnan(bad.centre.x) && std::isnan(bad.centre.z) && std::isnan(bad.radius));
}

TEST(Util, PowersOfTwoAndAStringReplacedByItself) {
    for (auto [in, out] : {std::pair{0u, 0u}, {1u, 1u}, {3u, 4u}, {5u, 8u}, {64u, 64u}, {65u, 128u}, {0x40000001u, 0x80000000u}})
        EXPECT_EQ(next_pow2(in), out) << in;
    char* s = nullptr;
    str_dup_into(&s, "hello");
    EXPECT_EQ(str_replace(&s, "hi"), 2u);
    EXPECT_EQ(str_replace(&s, s), 2u);  // must not read the freed copy
    EXPECT_STREQ(s, "hi");
    checked_free(s);
}

// Arguments where the C runtimes differ and one rounds the wrong way (replays of the two
// builds drifted apart): the correctly rounded values.
TEST(Util, PortableSineCosineAndExpAreCorrectlyRounded) {
    const struct { double x, sin_x, cos_x; } turns[] = {
        {0x1.7ac6aa57b7f35p+1, 0x1.737f41adf2ce9p-3, -0x1.f7818e3d68767p-1},
        {0x1.74895d1c7d854p+1, 0x1.d5312f1dc0e81p-3, -0x1.f261ef2c147d3p-1},
        {-0x1.458a79f695f84p+0, -0x1.e942a994a8f1fp-1, 0x1.2dc879b1137d5p-2},
        {0x1.389bf34883628p+1, 0x1.49940ef623fbdp-1, -0x1.87d1a855aff01p-1},
        {-M_PI / 2, -1.0, 0x1.1a62633145c07p-54},
        {0x1p-30, 0x1p-30, 1.0},
    };
    double s = 0, c = 0;
    for (const auto& t : turns) {
        portable_sincos(t.x, &s, &c);
        EXPECT_EQ(s, t.sin_x) << std::hexfloat << t.x;
        EXPECT_EQ(c, t.cos_x) << std::hexfloat << t.x;
    }
    for (auto [x, exp_x] : {std::pair{-0x1.5de1c5eb5064ap+1, 0x1.0a37ada04e498p-4}, {0x1.29b06ade83b6p+1, 0x1.477b51fe717cdp+3},
                            {1000.0, HUGE_VAL}, {-1000.0, 0.0}})
        EXPECT_EQ(portable_exp(x), exp_x) << std::hexfloat << x;
    for (int i = -2000; i <= 2000; i++) {  // within one ulp of the runtime's own elsewhere
        portable_sincos(i * 0.01234567, &s, &c);
        EXPECT_LE(ulps_apart(s, std::sin(i * 0.01234567)), 1) << i;
        EXPECT_LE(ulps_apart(c, std::cos(i * 0.01234567)), 1) << i;
        EXPECT_LE(ulps_apart(portable_exp(i * 0.35), std::exp(i * 0.35)), 1) << i;
    }
}

TEST(MemoryDeathTest, FailureEndsWithStatusOneThroughTheHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal("Something broke"), testing::ExitedWithCode(1), "Something broke");
    // Overflowing sizes are caught before they reach the system allocator.
    EXPECT_EXIT(checked_calloc(SIZE_MAX / 2, 4), testing::ExitedWithCode(1), "Out of memory");
    EXPECT_EXIT(checked_malloc_array(SIZE_MAX / 2, 4), testing::ExitedWithCode(1), "Out of memory");
    const auto exit_7 = [](const char* message) {
        std::fprintf(stderr, "handled: %s\n", message);
        std::exit(7);
    };
    EXPECT_EXIT((set_fatal_handler(exit_7), fatal("boom")), testing::ExitedWithCode(7), "handled: boom");
    const auto returns = [](const char*) {};  // still ends the process with status 1
    EXPECT_EXIT((set_fatal_handler(returns), fatal("ignored")), testing::ExitedWithCode(1), "");
}

// Scripted runs replay only if the sequence and the draws per call never change.
TEST(Random, KnownSequenceRangesAndTwoDrawsPerCall) {
    zibu_rand_reset();
    for (int v : {41, 18467, 6334, 26500}) EXPECT_EQ(zibu_rand(), v);
    zibu_rand_reset();
    EXPECT_DOUBLE_EQ(random_real(10.0), (18467 + 41 / 32768.0) / 32768.0 * 10.0);  // high part second
    EXPECT_EQ(random_int(-3), 0);
    EXPECT_EQ(zibu_rand(), 19169) << "random_int draws twice even for an empty range";
    for (int n : {1, 0, INT32_MIN}) EXPECT_EQ(random_int(n), 0) << n;
    std::set<int> seen;
    for (int i = 0; i < 600; i++) seen.insert(random_int(6));
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5}));
    int big = random_int(INT32_MAX);
    EXPECT_TRUE(big >= 0 && big < INT32_MAX);
}
