// Drawing primitives on a real OpenGL context.
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

namespace {

class Primitives : public GlTest {};

TEST_F(Primitives, DrawLineLeavesLightingAsItFoundIt) {
    overlay_begin();
    for (bool lit : {true, false}) {
        lit ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
        draw_line(0, 0, 10, 10, 0xffffff);
        EXPECT_EQ(glIsEnabled(GL_LIGHTING), lit);
    }
    overlay_end();
}

TEST_F(Primitives, BoxesFillAndOutlineTheirCorners) {
    overlay_begin();
    fill_box(10, 10, 20, 10, 0x123456);
    draw_box(100.5, 100.5, 20, 10, 0xffffff);
    draw_point(200.5, 200.5, 0xff0000);
    overlay_end();
    const int h = GL_TEST_HEIGHT;
    EXPECT_EQ(gl_test_pixel(10, h - 11), 0x123456u);
    EXPECT_EQ(gl_test_pixel(29, h - 20), 0x123456u);
    EXPECT_EQ(gl_test_pixel(30, h - 11), 0u);
    EXPECT_EQ(gl_test_pixel(110, h - 101), 0xffffffu);  // top edge
    EXPECT_EQ(gl_test_pixel(110, h - 106), 0u);         // inside stays empty
    EXPECT_EQ(gl_test_pixel(200, h - 201), 0xff0000u);
}

TEST_F(Primitives, SphereIsClosedAndCoversItsDisc) {
    // Radius 1 at distance 5 straight ahead.
    sphere(0, 0, -5, 1, 0x00ff00, 40);
    const int cx = GL_TEST_WIDTH / 2, cy = GL_TEST_HEIGHT / 2;
    EXPECT_EQ(gl_test_pixel(cx, cy), 0x00ff00u);
    EXPECT_EQ(gl_test_pixel(cx + 40, cy + 40), 0x00ff00u);
    EXPECT_EQ(gl_test_pixel(cx - 40, cy - 40), 0x00ff00u);
    EXPECT_EQ(gl_test_pixel(cx + 200, cy), 0u);
}

}  // namespace
