// Projection, overlay mode, the end of a frame and the primitives, on a real OpenGL context; the
// mipmap filter and the upload of a whole chain.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "support/gl_context.h"

namespace {

class FrameCycle : public GlTest {};

void projection(GLdouble p[16]) { glGetDoublev(GL_PROJECTION_MATRIX, p); }

TEST_F(FrameCycle, ProjectionHoldsTheVerticalAngleOfFourByThreeOnWideScreensAndAHeightFloor) {
    GLdouble p[16];
    resize(1920, 1080);
    projection(p);
    EXPECT_NEAR(1.0 / p[0], 1.3333, 1e-4);  // tx
    EXPECT_NEAR(1.0 / p[5], 0.75, 1e-6);    // ty
    EXPECT_NEAR(pixel_angle(), 2.0 / (0.75 * 1920), 1e-6);

    resize(1280, 1024);  // narrower than 4:3: the horizontal angle holds
    projection(p);
    EXPECT_NEAR(1.0 / p[0], 1.0, 1e-6);
    EXPECT_NEAR(1.0 / p[5], 0.8, 1e-6);
    GLint mode, vp[4];
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    resize(800, 0);  // the height floor
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_TRUE(screen_width == 800 && screen_height == 1 && vp[3] == 1);
    projection(p);
    for (double v : p) EXPECT_TRUE(std::isfinite(v));
}

TEST_F(FrameCycle, OverlayMapsPixelZeroToTheTopLeftOfTheWindowEvenInASubViewport) {
    const std::string before = gl_test_state();
    overlay_begin();
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_NEAR(units_per_pixel(), 1.0, 1e-6);  // GL keeps matrices in floats
    fill_box(0, 0, 1, 1, 0xff0000);
    fill_box(GL_TEST_WIDTH - 1, GL_TEST_HEIGHT - 1, 1, 1, 0x0000ff);
    overlay_end();
    EXPECT_TRUE(gl_test_pixel(0, GL_TEST_HEIGHT - 1) == 0xff0000u && gl_test_pixel(0, 0) == 0u);
    EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH - 1, 0), 0x0000ffu);
    EXPECT_EQ(gl_test_state(), before) << "the depth test and the perspective are back";

    // A viewport 200 x 100 whose bottom-left is window pixel (100, 50) from the bottom.
    glViewport(100, 50, 200, 100);
    overlay_begin();
    const double top = GL_TEST_HEIGHT - 150;  // its top edge, counted from the window's top
    fill_box(100, top, 1, 1, 0xffffff);
    fill_box(299, top + 99, 1, 1, 0xff00ff);
    overlay_end();
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    EXPECT_EQ(gl_test_pixel(100, 149), 0xffffffu);
    EXPECT_EQ(gl_test_pixel(299, 50), 0xff00ffu);
}

TEST_F(FrameCycle, FirstEndFrameSetsTheClearColourThenOnlyChanges) {
    last_clear_colour = CLEAR_COLOUR_UNSET;
    glClearColor(1, 0, 0, 0);
    end_frame(0);
    GLfloat c[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    EXPECT_TRUE(last_clear_colour == 0u && gl_test_pixel(5, 5) == 0u && c[0] == 0.0f);
    glClearColor(1, 0, 0, 0);  // an unchanged colour is not handed over again
    end_frame(0);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    EXPECT_EQ(c[0], 1.0f);

    end_frame(0x3366ff);
    EXPECT_TRUE(last_clear_colour == 0x3366ffu && gl_test_pixel(5, 5) == 0x3366ffu);
    end_frame(0);
}

TEST_F(FrameCycle, DrawLineLeavesLightingAsItFoundIt) {
    overlay_begin();
    for (bool lit : {true, false}) {
        lit ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
        const std::string before = gl_test_state();
        draw_line(0, 0, 10, 10, 0xffffff);
        EXPECT_EQ(gl_test_state(), before) << lit;
    }
    overlay_end();
}

// Rounding to nearest, the padded stride of every level, and odd or one-texel sides repeating
// their edge texels.
TEST(MipmapFilter, RoundsHonoursThePaddingAndRepeatsOddEdges) {
    unsigned char p[16] = {0, 0, 10, 11, 1, 1, 12, 13, 200, 201, 255, 255, 202, 203, 255, 254};
    mipmap_halve(1, 4, 4, p);  // 4 x 4, one component: level 1 keeps the stride of 4
    EXPECT_TRUE(p[0] == 1 && p[1] == 12 && p[4] == 202 && p[5] == 255);
    unsigned char r[4] = {10, 20, 31, 0};
    mipmap_halve(1, 3, 1, r);
    EXPECT_TRUE(r[0] == 15 && r[1] == 31);
    unsigned char q[12] = {0, 100, 0, 0, 4, 100, 0, 0, 9, 50, 0, 0};
    mipmap_halve(2, 1, 3, q);  // 1 x 3 in two components
    EXPECT_TRUE(q[0] == 2 && q[1] == 100 && q[4] == 9 && q[5] == 50);
}

class TextureUpload : public GlTest {};

TEST_F(TextureUpload, Chain256GivesLevelsOneToEight) {
    const int size = 256;
    std::vector<unsigned char> pixels(size * size * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 13 + i / 1024);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    upload_mipmapped(GL_TEXTURE_2D, 4, size, size, pixels.data());
    for (int level = 0; level <= 9; ++level) {  // no level 9
        GLint w = -1, h = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        EXPECT_TRUE(w == (size >> level) && h == (size >> level)) << level;
    }
    // The buffer now holds the 1 x 1 level, and that is what was uploaded as level 8.
    unsigned char last[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 8, GL_RGBA, GL_UNSIGNED_BYTE, last);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(last[k], pixels[k]);
    glDeleteTextures(1, &tex);
}

}  // namespace
