// Smoke puffs and explosions: their particles, life and sprites, drawn on a real context.
#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/smoke.h"
#include "things/splode.h"

#include <cmath>

namespace {

// A late plot must not wrap round to opaque; the puff goes at four seconds.
using SmokeThing = WorldTest<>;
TEST_F(SmokeThing, FadesGrowsTravelsAndGoesAtFourSeconds) {
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->velocity = Vec3{1, 0, -2};
    VNode_advance_tree(world, 1.0);
    EXPECT_DOUBLE_EQ(s->bound.radius, 3.0);  // 2 * 1 + sqrt(1) * 1
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{1, 0, -2}));
    s->age = 9.0f;
    EXPECT_EQ(smoke_alpha(s), 0);
    s->age = 3.99f;
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 1u);
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 0u);
}

// Negative speed makes a shell, positive a ball; zero speed is a shell of radius 0, not a
// division by zero.
using SplodeThing = WorldTest<>;
TEST_F(SplodeThing, SpeedsMakeAShellOrABallAndZeroIsStill) {
    zibu_rand_reset();
    Splode* shell = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, -2.0f, 7, world);
    Splode* ball = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, 2.0f, 7, world);
    float lo = 9, hi = 0;
    for (int i = 0; i < 400; i++) {
        ASSERT_NEAR(vec3f_len(shell->particles[i].drift), 2.0f, 1e-5f) << i;
        lo = std::fmin(lo, vec3f_len(ball->particles[i].drift));
        hi = std::fmax(hi, vec3f_len(ball->particles[i].drift));
    }
    EXPECT_TRUE(lo < 0.6f && hi > 1.9f && hi <= 2.0f + 1e-5f) << lo << " " << hi;
    Splode* still = splode_create(0, 0, 0, 0, 0, 0, 50, 0.5f, 0.0f, 7, world);
    for (int i = 0; i < 50; i++) ASSERT_EQ(vec3f_len(still->particles[i].drift), 0.0f);
}

// An odd size pads the sprite's rows to 4 bytes for the upload: row 1 starts at byte 12.
TEST(SplodeImage, OddSizePadsItsRows) {
    unsigned char* odd = splode_texture_image(3, 0, 0, 0xFF0000);
    EXPECT_EQ(odd[12 + 3], 0xFF);
    checked_free(odd);
}

long red_sum() {
    long sum = 0;
    const auto px = gl_test_pixels(GL_TEST_WIDTH / 2 - 100, GL_TEST_HEIGHT / 2 - 100, 200, 200);
    for (std::size_t i = 0; i < px.size(); i += 3) sum += px[i];
    return sum;
}

// Both leave the depth mask, blending and texturing as they found them; an explosion that
// owns its texture deletes it when it goes.
TEST(ParticleDrawing, SmokeDarkensExplosionsLightAndOwnedTexturesGo) {
    ASSERT_TRUE(gl_test_context()) << gl_test_error();
    VNode* world = World_create(0, 0, 0, nullptr);
    camera_read_back();
    glTranslatef(0, 0, -4);
    const std::string before = gl_test_state();
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->age = 0.25f;
    glClearColor(1, 1, 1, 1), glClear(GL_COLOR_BUFFER_BIT), glClearColor(0, 0, 0, 1);
    smoke_plot(s);
    EXPECT_LT(red_sum(), 255L * 200 * 200);
    const unsigned tex = splode_texture(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    Splode* e = splode_create(0, 0, 0, 0, 0, 0, 20, 0.5f, 5.0f, tex, world);
    e->flash = e->owns_texture = 1, e->age = 0.1f;
    glClear(GL_COLOR_BUFFER_BIT), splode_plot(e);
    EXPECT_GT(red_sum(), 0L);
    EXPECT_EQ(gl_test_state(), before);
    VNode_destroy(world);
    EXPECT_FALSE(glIsTexture(tex));
}

}  // namespace
