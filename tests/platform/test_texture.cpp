// The mipmap filter and the upload of a whole chain.
#include "platform/opengl.h"
#include "platform/texture.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

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
