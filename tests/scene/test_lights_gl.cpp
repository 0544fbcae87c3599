#include "platform/opengl.h"
#include "scene/lights.h"
#include "support/gl_context.h"

namespace {

class LibraryLights : public GlTest {
protected:
    void TearDown() override {
        lights_off();
        light_tree_off();
    }
};

GLfloat light_value(int32_t light, GLenum what, int index = 0) {
    GLfloat v[4] = {};
    glGetLightfv(static_cast<GLenum>(light), what, v);
    return v[index];
}

}  // namespace

TEST_F(LibraryLights, PointLightsBeyondTheLibrarysCountChangeNothing) {
    lights_start();
    ASSERT_GE(max_lights, 8);
    lights_off();
    for (int32_t k = 0; k <= max_lights; k++)
        light_point(static_cast<float>(k), 0, 0, 1, 1, 1, static_cast<float>(k + 1));
    EXPECT_EQ(next_light, GL_LIGHT0 + max_lights);
    int32_t last = GL_LIGHT0 + max_lights - 1;
    EXPECT_TRUE(glIsEnabled(static_cast<GLenum>(last)));
    EXPECT_EQ(light_value(last, GL_POSITION), static_cast<float>(max_lights - 1));
    EXPECT_FLOAT_EQ(light_value(last, GL_LINEAR_ATTENUATION), 1.0f / static_cast<float>(max_lights));
    EXPECT_EQ(light_value(last, GL_CONSTANT_ATTENUATION), 0.0f);

    lights_off();
    EXPECT_EQ(next_light, GL_LIGHT0);
    for (int32_t l = GL_LIGHT0; l <= last; l++) EXPECT_FALSE(glIsEnabled(static_cast<GLenum>(l)));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LibraryLights, TreeDrawnOnTopLeavesDepthAndLightingAsTheyWere) {
    lights_start();
    light_tree_on();
    light_tree_begin();
    light_tree_add(0, 0, -5, 1, 0, 0, 100);  // a cube one unit wide
    light_tree_add(3, 0, -5, 1, 0, 0, 1);
    light_tree_end();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthFunc(GL_LEQUAL);
    light_tree_draw(1);
    GLint depth_func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depth_func);
    EXPECT_EQ(depth_func, GL_LEQUAL);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2 + 20), 0xFF0000u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
