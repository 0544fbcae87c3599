// Explosions: particle speeds, size and speed spreads, shrinking, placement and the
// three-ring sprite.
#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/gl_context.h"
#include "things/splode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class SplodeThing : public ::testing::Test {
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

TEST_F(SplodeThing, NegativeSpeedMakesAShellPositiveABall) {
    Splode* shell = splode_create(0, 0, 0, 0, 0, 0, 500, 0.5f, -2.0f, 7, world);
    Splode* ball = splode_create(0, 0, 0, 0, 0, 0, 500, 0.5f, 2.0f, 7, world);
    float lo = 9, hi = 0;
    for (int i = 0; i < 500; i++) {
        EXPECT_NEAR(vec3f_len(shell->particles[i].drift), 2.0f, 1e-5f) << i;
        const float r = vec3f_len(ball->particles[i].drift);
        lo = std::fmin(lo, r);
        hi = std::fmax(hi, r);
        EXPECT_EQ(ball->particles[i].colour[0], 255);
        EXPECT_NEAR(std::hypot(ball->particles[i].turn[0], ball->particles[i].turn[1]), 0.5, 1e-6);
    }
    EXPECT_LT(lo, 0.6f);
    EXPECT_GT(hi, 1.9f);
    EXPECT_LE(hi, 2.0f + 1e-5f);
    EXPECT_EQ(shell->expansion, 2.0f);
    EXPECT_EQ(ball->expansion, 2.0f);
    EXPECT_EQ(ball->life, 1.0f);
    EXPECT_EQ(ball->flags & (VN_TRANSPARENT | VN_NO_COLLIDE), VN_TRANSPARENT | VN_NO_COLLIDE);

    // Zero speed is a shell of radius 0, not a division by zero.
    Splode* still = splode_create(0, 0, 0, 0, 0, 0, 50, 0.5f, 0.0f, 7, world);
    for (int i = 0; i < 50; i++) EXPECT_EQ(vec3f_len(still->particles[i].drift), 0.0f);
}

TEST_F(SplodeThing, VariedSizesAndSpeedsStayInRangeAndTheBoundCoversThem) {
    Splode* e = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, -5.0f, 7, world);
    splode_vary_size(e, 0.5, 2.0);
    splode_vary_speed(e, 0.1, 10.0);
    EXPECT_FLOAT_EQ(e->start_radius, 1.0f);
    EXPECT_FLOAT_EQ(e->expansion, 50.0f);
    int small_size = 0, slow = 0;
    for (int i = 0; i < 400; i++) {
        const float f = std::hypot(e->particles[i].turn[0], e->particles[i].turn[1]) / 0.5f;
        EXPECT_GE(f, 0.5f - 1e-5f);
        EXPECT_LT(f, 2.0f);
        small_size += f < 1.0f;
        const float g = vec3f_len(e->particles[i].drift) / 5.0f;
        EXPECT_GE(g, 0.1f - 1e-5f);
        EXPECT_LT(g, 10.0f);
        slow += g < 1.0f;
    }
    // Log-uniform: the geometric middle splits the particles in half.
    EXPECT_NEAR(small_size / 400.0, 0.5, 0.08);
    EXPECT_NEAR(slow / 400.0, 0.5, 0.08);

    splode_tint(e, 10, 20, 30);
    EXPECT_EQ(e->particles[0].colour[2], 30);
    EXPECT_EQ(e->particles[399].colour[0], 10);
}

TEST_F(SplodeThing, ShrinksToAQuarterAtHalfLifeAndGoesAtTheEnd) {
    Splode* e = splode_create(1, 1, 1, 2, 0, 0, 10, 0.5f, 5.0f, 7, world);
    e->life = 0.5f;
    EXPECT_EQ(splode_scale(e), 1.0f);
    VNode_advance_tree(world, 0.25);
    EXPECT_FLOAT_EQ(splode_scale(e), 0.25f);
    EXPECT_DOUBLE_EQ(e->bound.radius, 5.0 * 0.25 + 0.5);
    EXPECT_FALSE(vec3_differs(e->world_centre, Vec3{1.5, 1, 1}));
    VNode_advance_tree(world, 0.25);
    EXPECT_EQ(VNode_child_count(world), 0u);
}

TEST_F(SplodeThing, AtANodeTakesItsPlaceParentAndVelocity) {
    Splode* mover = splode_create(4, 5, 6, 1, 2, 3, 1, 0.5f, 1.0f, 7, world);
    Splode* e = splode_at(mover, 3, 0.25f, 2.0f, 9);
    EXPECT_EQ(e->parent, world);
    EXPECT_FALSE(vec3_differs(e->world_centre, Vec3{4, 5, 6}));
    EXPECT_FALSE(vec3_differs(e->velocity, Vec3{1, 2, 3}));
    EXPECT_EQ(e->texture, 9u);
    EXPECT_EQ(e->count, 3);
    // A node without a velocity gives a burst that stays put.
    Splode* f = splode_at(world, 1, 0.25f, 2.0f, 9);
    EXPECT_FALSE(vec3_differs(f->velocity, Vec3{0, 0, 0}));
    VNode_remove(f);  // made under the world's absent parent: not in the tree
}

TEST(SplodeImage, RingsBlendCoreMiddleAndOuter) {
    const int size = 32, h = 16, stride = 96;
    unsigned char* im = splode_texture_image(size, 0x8080FF, 0x00FF80, 0xFFFFFF);
    auto texel = [&](int x, int y) { return im + x * stride + y * 3; };
    auto rgb = [&](int x, int y) {
        const unsigned char* t = texel(x, y);
        return (unsigned(t[0]) << 16) | (unsigned(t[1]) << 8) | t[2];
    };
    EXPECT_EQ(rgb(h, h), 0xFFFFFFu);      // core
    EXPECT_EQ(rgb(h, h + 4), 0x00FF80u);  // rho = 0.25: middle at full strength
    EXPECT_EQ(rgb(h - 4, h), 0x00FF80u);
    EXPECT_EQ(rgb(h + 8, h), 0x8080FFu);  // rho = 0.5: outer at full strength
    EXPECT_EQ(rgb(h, h - 8), 0x8080FFu);
    EXPECT_EQ(rgb(h, h + 12), 0x40407Fu);  // rho = 0.75: outer at half strength, truncated
    EXPECT_EQ(rgb(h, 0), 0u);             // rho = 1 and beyond: black
    EXPECT_EQ(rgb(0, 0), 0u);
    EXPECT_EQ(rgb(h + 6, h), 0x40BFBFu);  // rho = 0.375: halfway from middle to outer
    checked_free(im);

    // Rows of an odd size are padded to 4 bytes for the upload.
    unsigned char* small = splode_texture_image(3, 0x000000, 0x000000, 0xFF0000);
    EXPECT_EQ(small[12 * 1 + 3 * 1], 0xFF);  // centre texel (1, 1): row 1 starts at byte 12
    checked_free(small);
}

class SplodeDrawing : public GlTest {};

TEST_F(SplodeDrawing, AddsLightRestoresStateAndDeletesAnOwnedTexture) {
    zibu_rand_reset();
    VNode* world = World_create(0, 0, 0, nullptr);
    const unsigned tex = splode_texture(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    Splode* e = splode_create(0, 0, 0, 0, 0, 0, 20, 0.5f, 5.0f, tex, world);
    e->flash = 1;
    e->owns_texture = 1;
    e->age = 0.1f;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    camera_read_back();
    glPushMatrix();
    glTranslatef(0, 0, -4);
    splode_plot(e);
    glPopMatrix();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    const int w = 300, h = 300;
    std::vector<unsigned char> px(w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(GL_TEST_WIDTH / 2 - w / 2, GL_TEST_HEIGHT / 2 - h / 2, w, h, GL_RGB,
                 GL_UNSIGNED_BYTE, px.data());
    int lit = 0;
    for (unsigned char c : px) lit += c > 20;
    EXPECT_GT(lit, 300);

    EXPECT_TRUE(glIsTexture(tex));
    VNode_destroy(world);
    EXPECT_FALSE(glIsTexture(tex));
}

}  // namespace
