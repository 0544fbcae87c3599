// The mipmap filter and the upload of a whole chain.
#include "platform/opengl.h"
#include "platform/texture.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(MipmapFilter, RoundsToNearestAndHonoursThePadding) {
    // 4 x 4, one component: stride 4, and level 1 (2 x 2) has stride 4 too.
    unsigned char p[16] = {0, 0, 10, 11,  //
                           1, 1, 12, 13,  //
                           200, 201, 255, 255,  //
                           202, 203, 255, 254};
    mipmap_halve(1, 4, 4, p);
    EXPECT_EQ(p[0], 1);    // (0 + 0 + 1 + 1 + 2) >> 2
    EXPECT_EQ(p[1], 12);   // (10 + 11 + 12 + 13 + 2) >> 2 = 48 >> 2
    EXPECT_EQ(p[4], 202);  // second row starts at the padded stride
    EXPECT_EQ(p[5], 255);  // (255 + 255 + 255 + 254 + 2) >> 2
}

TEST(MipmapFilter, OddAndOneTexelSidesRepeatTheEdge) {
    // 3 x 1: the last column and the missing second row come from the edge texels.
    unsigned char p[4] = {10, 20, 31, 0};
    mipmap_halve(1, 3, 1, p);
    EXPECT_EQ(p[0], 15);  // (10 + 20 + 10 + 20 + 2) >> 2
    EXPECT_EQ(p[1], 31);
    // 1 x 3 in two components.
    unsigned char q[12] = {0, 100, 0, 0, 4, 100, 0, 0, 9, 50, 0, 0};
    mipmap_halve(2, 1, 3, q);
    EXPECT_EQ(q[0], 2);
    EXPECT_EQ(q[1], 100);
    EXPECT_EQ(q[4], 9);
    EXPECT_EQ(q[5], 50);
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
    for (int level = 0; level <= 8; ++level) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        EXPECT_EQ(w, size >> level) << level;
        EXPECT_EQ(h, size >> level) << level;
    }
    GLint w9 = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 9, GL_TEXTURE_WIDTH, &w9);
    EXPECT_EQ(w9, 0);
    // The buffer now holds the 1 x 1 level, and that is what was uploaded as level 8.
    unsigned char last[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 8, GL_RGBA, GL_UNSIGNED_BYTE, last);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(last[k], pixels[k]);
    glDeleteTextures(1, &tex);
}

}  // namespace
