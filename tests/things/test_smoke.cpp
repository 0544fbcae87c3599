// Smoke puffs: their particles, life, growth and camera-facing sprites.
#include "foundation/camera.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/gl_context.h"
#include "things/smoke.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class SmokeThing : public ::testing::Test {
protected:
    void SetUp() override {
        zibu_rand_reset();
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

TEST_F(SmokeThing, DriftsFillTheBallAndSpritesAreGrey) {
    Smoke* s = smoke_create(1, 2, 3, 4000, 1.5f, 2.0f, world);
    EXPECT_EQ(s->flags & (VN_TRANSPARENT | VN_NO_COLLIDE | VN_OWN_FRAME),
              VN_TRANSPARENT | VN_NO_COLLIDE | VN_OWN_FRAME);
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{1, 2, 3}));
    int near_centre = 0, outer_shell = 0;
    for (int i = 0; i < s->count; i++) {
        const Particle& p = s->particles[i];
        const float r = vec3f_len(p.drift);
        ASSERT_LE(r, 2.0f + 1e-5f);
        if (r < 1.0f) near_centre++;     // inner half radius: 1/8 of a uniform ball
        if (r > 1.6f) outer_shell++;      // outer fifth: 1 - 0.8^3 = 0.488
        EXPECT_NEAR(std::hypot(p.turn[0], p.turn[1]), 1.5, 1e-5);
        ASSERT_LE(p.colour[0], 76);
        ASSERT_EQ(p.colour[0], p.colour[1]);
        ASSERT_EQ(p.colour[0], p.colour[2]);
    }
    EXPECT_NEAR(near_centre / 4000.0, 0.125, 0.03);
    EXPECT_NEAR(outer_shell / 4000.0, 0.488, 0.04);
}

TEST_F(SmokeThing, FadesGrowsTravelsAndGoesAtFourSeconds) {
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->velocity = Vec3{1, 0, -2};
    EXPECT_EQ(smoke_alpha(s), 255);
    VNode_advance_tree(world, 1.0);
    EXPECT_DOUBLE_EQ(s->bound.radius, 3.0);  // 2 * 1 + sqrt(1) * 1
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{1, 0, -2}));
    VNode_advance_tree(world, 1.0);
    EXPECT_EQ(smoke_alpha(s), 63);  // 255.9 * (2 / 4)^2 = 63.97
    VNode_advance_tree(world, 1.99);
    EXPECT_EQ(VNode_child_count(world), 1u);
    VNode_advance_tree(world, 0.01);
    EXPECT_EQ(VNode_child_count(world), 0u);
    EXPECT_EQ(total_nodes, nodes_before + 1);
}

TEST_F(SmokeThing, AlphaReachesZeroAndStaysThere) {
    Smoke* s = smoke_create(0, 0, 0, 0, 1.0f, 2.0f, world);
    s->age = 4.0f;
    EXPECT_EQ(smoke_alpha(s), 0);
    s->age = 9.0f;  // never plotted this late in the game, but must not turn opaque
    EXPECT_EQ(smoke_alpha(s), 0);
}

TEST(Sprite, SquareFacesTheCamera) {
    // A camera turned about two axes: the square must lie across its view direction.
    Mat4 frame = mat4_identity();
    frame_rotate_y(&frame, 0.6);
    frame_rotate_x(&frame, -0.4);
    g_camera.view = camera_rigid_inverse(&frame);
    const double* v = g_camera.view.m;
    const Vec3f forward{float(v[2]), float(v[6]), float(v[10])};
    const Vec3f p{3, -1, 2};
    Vec3f c[4];
    sprite_corners(p, 0.3f, 0.4f, c);
    for (int i = 0; i < 4; i++) {
        const Vec3f d = vec3f_sub(c[i], p);
        EXPECT_NEAR(d.x * forward.x + d.y * forward.y + d.z * forward.z, 0.0, 1e-5) << i;
        EXPECT_NEAR(vec3f_len(d), 0.5 * std::sqrt(2.0), 1e-5) << i;
    }
    // A square of half-width sqrt(0.3^2 + 0.4^2): sides 1 long, in winding order.
    for (int i = 0; i < 4; i++) EXPECT_NEAR(vec3f_dist(c[i], c[(i + 1) % 4]), 1.0, 1e-5) << i;
    EXPECT_NEAR(vec3f_dist(c[0], c[2]), std::sqrt(2.0), 1e-5);
    g_camera.view = mat4_identity();
}

class SmokeDrawing : public GlTest {};

TEST_F(SmokeDrawing, DarkensTheViewAndRestoresState) {
    zibu_rand_reset();
    VNode* world = World_create(0, 0, 0, nullptr);
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->age = 0.25f;
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(0, 0, 0, 1);
    camera_read_back();
    glPushMatrix();
    glTranslatef(0, 0, -4);
    smoke_plot(s);
    glPopMatrix();
    EXPECT_NE(smoke_sprite, 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    GLboolean depth_mask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depth_mask);
    EXPECT_TRUE(depth_mask);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    const int w = 200, h = 200;
    std::vector<unsigned char> px(w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(GL_TEST_WIDTH / 2 - w / 2, GL_TEST_HEIGHT / 2 - h / 2, w, h, GL_RGB,
                 GL_UNSIGNED_BYTE, px.data());
    int darker = 0;
    for (unsigned char c : px) darker += c < 250;
    EXPECT_GT(darker, 300);
    VNode_destroy(world);
}

}  // namespace
