// The mipmap filter and the upload of a whole chain.
#include "platform/opengl.h"
#include "platform/texture.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(MipmapFilter, RowsArePaddedToFourBytes) {
    EXPECT_EQ(texture_stride(4, 1), 4);
    EXPECT_EQ(texture_stride(2, 1), 4);
    EXPECT_EQ(texture_stride(5, 3), 16);
    EXPECT_EQ(texture_stride(1, 4), 4);
}

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

TEST(MipmapFilter, RgbLevelsMatchABoxFilterOfTheOriginal) {
    const int w = 6, h = 4, c = 3;
    const int stride = texture_stride(w, c);
    std::vector<unsigned char> img(stride * h), work;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * c; ++x) img[y * stride + x] = static_cast<unsigned char>(x * 7 + y * 31);
    work = img;
    mipmap_halve(c, w, h, work.data());
    const int nstride = texture_stride(3, c);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int k = 0; k < c; ++k) {
                auto p = [&](int px, int py) { return img[py * stride + px * c + k]; };
                int want = (p(2 * x, 2 * y) + p(2 * x + 1, 2 * y) + p(2 * x, 2 * y + 1) +
                            p(2 * x + 1, 2 * y + 1) + 2) >> 2;
                EXPECT_EQ(work[y * nstride + x * c + k], want) << x << "," << y << "," << k;
            }
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

TEST_F(TextureUpload, SingleComponentLevelsKeepTheirPaddedRows) {
    // 6 x 2 luminance: level 1 is 3 x 1 (stride 4), level 2 is 2 x 1, level 3 is 1 x 1.
    unsigned char pixels[16] = {0, 4, 8, 12, 16, 20, 0, 0, 0, 4, 8, 12, 16, 20, 0, 0};
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    upload_mipmapped(GL_TEXTURE_2D, 1, 6, 2, pixels);
    unsigned char level1[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE, level1);
    EXPECT_EQ(level1[0], 2);   // (0 + 4 + 0 + 4 + 2) >> 2
    EXPECT_EQ(level1[1], 10);  // (8 + 12 + 8 + 12 + 2) >> 2
    EXPECT_EQ(level1[2], 18);
    GLint w3 = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 3, GL_TEXTURE_WIDTH, &w3);
    EXPECT_EQ(w3, 1);
    glDeleteTextures(1, &tex);
}

}  // namespace
