// Smoke puffs: their particles, life and growth, and the camera-facing sprite.
#include "foundation/camera.h"
#include "foundation/random.h"
#include "scene/advance.h"
#include "things/smoke.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(SmokeThing, DriftsFillTheBallAndSpritesAreGrey) {
    zibu_rand_reset();
    VNode* world = World_create(0, 0, 0, nullptr);
    Smoke* s = smoke_create(1, 2, 3, 4000, 1.5f, 2.0f, world);
    int inner_half = 0;
    for (int i = 0; i < s->count; i++) {
        const Particle& p = s->particles[i];
        ASSERT_LE(vec3f_len(p.drift), 2.0f + 1e-5f);
        inner_half += vec3f_len(p.drift) < 1.0f;
        ASSERT_NEAR(std::hypot(p.turn[0], p.turn[1]), 1.5, 1e-5);
        ASSERT_TRUE(p.colour[0] <= 76 && p.colour[1] == p.colour[0] && p.colour[2] == p.colour[0]);
    }
    EXPECT_NEAR(inner_half / 4000.0, 0.125, 0.03);  // uniform in the ball, not on its shell
    VNode_destroy(world);
}

TEST(SmokeThing, FadesGrowsTravelsAndGoesAtFourSeconds) {
    VNode* world = World_create(0, 0, 0, nullptr);
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->velocity = Vec3{1, 0, -2};
    EXPECT_EQ(smoke_alpha(s), 255);
    VNode_advance_tree(world, 1.0);
    EXPECT_DOUBLE_EQ(s->bound.radius, 3.0);  // 2 * 1 + sqrt(1) * 1
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{1, 0, -2}));
    VNode_advance_tree(world, 1.0);
    EXPECT_EQ(smoke_alpha(s), 63);  // 255.9 * (2 / 4)^2
    s->age = 9.0f;  // never plotted this late, but it must not turn opaque again
    EXPECT_EQ(smoke_alpha(s), 0);
    s->age = 3.99f;
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 1u);
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 0u);
    VNode_destroy(world);
}

TEST(Sprite, SquareFacesTheCamera) {
    Mat4 frame = mat4_identity();
    frame_rotate_y(&frame, 0.6);
    frame_rotate_x(&frame, -0.4);
    g_camera.view = camera_rigid_inverse(&frame);
    const double* v = g_camera.view.m;
    const Vec3f forward{float(v[2]), float(v[6]), float(v[10])};
    Vec3f c[4];
    sprite_corners(Vec3f{3, -1, 2}, 0.3f, 0.4f, c);
    // A square of half-width sqrt(0.3^2 + 0.4^2) across the view direction.
    for (int i = 0; i < 4; i++) {
        const Vec3f side = vec3f_sub(c[(i + 1) % 4], c[i]);
        EXPECT_NEAR(side.x * forward.x + side.y * forward.y + side.z * forward.z, 0.0, 1e-5);
        EXPECT_NEAR(vec3f_len(side), 1.0, 1e-5) << i;
    }
    EXPECT_NEAR(vec3f_dist(c[0], c[2]), std::sqrt(2.0), 1e-5);
    g_camera.view = mat4_identity();
}

}  // namespace
