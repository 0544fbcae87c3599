// Explosions: speeds, size and speed spreads, shrinking, placement and the sprite; both
// particle things drawn on a real context.
#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/gl_context.h"
#include "things/splode.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(SplodeThing, SpeedsMakeAShellOrABallAndVaryWithinTheirRanges) {
    zibu_rand_reset();
    VNode* world = World_create(0, 0, 0, nullptr);
    Splode* shell = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, -2.0f, 7, world);
    Splode* ball = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, 2.0f, 7, world);
    float lo = 9, hi = 0;
    for (int i = 0; i < 400; i++) {
        ASSERT_NEAR(vec3f_len(shell->particles[i].drift), 2.0f, 1e-5f) << i;
        lo = std::fmin(lo, vec3f_len(ball->particles[i].drift));
        hi = std::fmax(hi, vec3f_len(ball->particles[i].drift));
    }
    EXPECT_TRUE(lo < 0.6f && hi > 1.9f && hi <= 2.0f + 1e-5f) << lo << " " << hi;

    splode_vary_size(shell, 0.5, 2.0);
    splode_vary_speed(shell, 0.1, 10.0);
    EXPECT_FLOAT_EQ(shell->start_radius, 1.0f);
    EXPECT_FLOAT_EQ(shell->expansion, 20.0f);
    for (int i = 0; i < 400; i++) {
        const Particle& p = shell->particles[i];
        const float f = std::hypot(p.turn[0], p.turn[1]) / 0.5f, g = vec3f_len(p.drift) / 2.0f;
        ASSERT_TRUE(f >= 0.5f - 1e-5f && f < 2.0f && g >= 0.1f - 1e-5f && g < 10.0f) << f << g;
    }
    // Zero speed is a shell of radius 0, not a division by zero.
    Splode* still = splode_create(0, 0, 0, 0, 0, 0, 50, 0.5f, 0.0f, 7, world);
    for (int i = 0; i < 50; i++) ASSERT_EQ(vec3f_len(still->particles[i].drift), 0.0f);
    VNode_destroy(world);
}

TEST(SplodeThing, PlacedAtANodeShrinksAndGoes) {
    VNode* world = World_create(0, 0, 0, nullptr);
    Splode* mover = splode_create(4, 5, 6, 2, 0, 0, 1, 0.5f, 1.0f, 7, world);
    Splode* e = splode_at(mover, 3, 0.5f, 5.0f, 9);
    EXPECT_EQ(e->parent, world);
    e->life = 0.5f;
    VNode_advance_tree(world, 0.25);
    EXPECT_FLOAT_EQ(splode_scale(e), 0.25f);  // half the life: a quarter of the size
    EXPECT_DOUBLE_EQ(e->bound.radius, 5.0 * 0.25 + 0.5);
    EXPECT_FALSE(vec3_differs(e->world_centre, Vec3{4.5, 5, 6}));  // the mover's velocity
    VNode_advance_tree(world, 0.25);
    EXPECT_EQ(VNode_child_count(world), 1u);  // only the mover is left
    VNode_destroy(world);
}

TEST(SplodeImage, RingsBlendCoreMiddleAndOuter) {
    unsigned char* im = splode_texture_image(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    auto rgb = [&](int x, int y) {
        const unsigned char* t = im + x * 96 + y * 3;
        return (unsigned(t[0]) << 16) | (unsigned(t[1]) << 8) | t[2];
    };
    EXPECT_EQ(rgb(16, 16), 0xFFFFFFu);  // core
    EXPECT_EQ(rgb(16, 20), 0x00FF80u);  // rho = 0.25: middle at full strength
    EXPECT_EQ(rgb(22, 16), 0x40BFBFu);  // rho = 0.375: halfway to outer
    EXPECT_EQ(rgb(8, 16), 0x8080FFu);   // rho = 0.5: outer at full strength
    EXPECT_EQ(rgb(16, 28), 0x40407Fu);  // rho = 0.75: outer at half strength
    EXPECT_EQ(rgb(16, 0), 0u);          // rho = 1 and beyond: black
    checked_free(im);
    // An odd size pads its rows to 4 bytes for the upload: row 1 starts at byte 12.
    unsigned char* odd = splode_texture_image(3, 0, 0, 0xFF0000);
    EXPECT_EQ(odd[12 + 3], 0xFF);
    checked_free(odd);
}

class ParticleDrawing : public GlTest {};

// Sum of the red channel over a 200 x 200 block at the centre.
long red_sum() {
    static unsigned char px[200 * 200 * 3];
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(GL_TEST_WIDTH / 2 - 100, GL_TEST_HEIGHT / 2 - 100, 200, 200, GL_RGB,
                 GL_UNSIGNED_BYTE, px);
    long sum = 0;
    for (int i = 0; i < 200 * 200 * 3; i += 3) sum += px[i];
    return sum;
}

TEST_F(ParticleDrawing, SmokeDarkensExplosionsLightAndOwnedTexturesGo) {
    VNode* world = World_create(0, 0, 0, nullptr);
    camera_read_back();
    glTranslatef(0, 0, -4);
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->age = 0.25f;
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 1);
    smoke_plot(s);
    EXPECT_LT(red_sum(), 255L * 200 * 200);

    const unsigned tex = splode_texture(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    Splode* e = splode_create(0, 0, 0, 0, 0, 0, 20, 0.5f, 5.0f, tex, world);
    e->flash = e->owns_texture = 1;
    e->age = 0.1f;
    glClear(GL_COLOR_BUFFER_BIT);
    splode_plot(e);
    EXPECT_GT(red_sum(), 0L);
    // Both leave the depth mask, blending and texturing as they found them.
    GLboolean depth_mask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depth_mask);
    EXPECT_TRUE(depth_mask && !glIsEnabled(GL_BLEND) && !glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    VNode_destroy(world);
    EXPECT_FALSE(glIsTexture(tex));
}

}  // namespace
