#include <gtest/gtest.h>

#include <cmath>

#include "foundation/frame.h"

namespace {

constexpr double pi = 3.14159265358979323846;

void expect_near(Vec3 a, Vec3 b, double tolerance = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

Vec3 axis(const Mat4& m, int c) { return Vec3{m.m[4 * c], m.m[4 * c + 1], m.m[4 * c + 2]}; }

Mat4 tilted_frame() {
    Mat4 m = mat4_identity();
    frame_rotate_x(&m, 0.3), frame_rotate_y(&m, -1.1), frame_rotate_z(&m, 2.0), frame_translate(&m, 4.0, -5.0, 6.0);
    return m;
}

}  // namespace

TEST(Frame, QuarterTurnsFollowTheRightHandRule) {
    const struct { void (*turn)(Mat4*, double); int column; Vec3 want; } cases[] = {{frame_rotate_x, 1, {0, 0, 1}}, {frame_rotate_x, 2, {0, -1, 0}},
                 {frame_rotate_y, 2, {1, 0, 0}}, {frame_rotate_z, 0, {0, 1, 0}}};
    for (const auto& c : cases) {
        Mat4 m = mat4_identity();
        c.turn(&m, pi / 2);
        expect_near(axis(m, c.column), c.want);
    }
}

TEST(Frame, OrthonormalizeKeepsExactFramesAndRepairsDrift) {
    Mat4 exact = mat4_identity();
    exact.m[0] = 0, exact.m[1] = 1, exact.m[4] = -1, exact.m[5] = 0;  // quarter turn about z
    Mat4 copy = exact;
    frame_orthonormalize(&copy);
    for (int i = 0; i < 16; i++) EXPECT_EQ(copy.m[i], exact.m[i]) << i;
    Mat4 drifted = tilted_frame();
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
        expect_near(s.centre, k.want.centre);
        EXPECT_NEAR(s.radius, k.want.radius, 1e-12) << k.c.x;
    }
    BoundSphere bad{{0, 0, 0}, 1};
    bound_add_sphere(&bad, Vec3{1, 0, 0}, std::nan(""));
    EXPECT_TRUE(std::isnan(bad.centre.x) && std::isnan(bad.centre.z) && std::isnan(bad.radius));
}
