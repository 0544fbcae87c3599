#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/font_fixture.h"
#include "platform/opengl.h"
#include "platform/text.h"
#include "support/gl_context.h"

namespace {

class FontGl : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        free_fonts();
    }
    void TearDown() override { free_fonts(); }
};

std::vector<uint8_t> level_texels(uint32_t texture, int level, int* w, int* h) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, h);
    std::vector<uint8_t> t(static_cast<size_t>(*w) * *h * 4);
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, t.data());
    return t;
}

TEST_F(FontGl, BuiltinAtlasAndMetrics) {
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    Font* f = current_font;
    ASSERT_TRUE(f && font_registry.count == 1);
    EXPECT_TRUE(f->line_h == 13 && f->max_w == 16 && f->cell_w == 9 && text_line_height == 13 && text_cell_width == 9);
    EXPECT_TRUE(f->attrs.base == f && f->attrs.glyphs == 512);

    // Cells in rows, 3 pixels apart (13 / 4), inside a power-of-two atlas.
    EXPECT_EQ(f->glyph_x[1], 3u + 3u);
    EXPECT_TRUE((f->tex_w & (f->tex_w - 1)) == 0 && (f->tex_h & (f->tex_h - 1)) == 0);
    for (int c = 1; c < 512; ++c) {
        EXPECT_TRUE(f->glyph_x[c] + f->glyph_w[c] <= f->tex_w && f->glyph_y[c] + 13 <= f->tex_h) << c;
        if (f->glyph_y[c] == f->glyph_y[c - 1]) {
            EXPECT_EQ(f->glyph_x[c], f->glyph_x[c - 1] + f->glyph_w[c - 1] + 3) << c;
        }
    }

    // Level 0: palette colours, opaque; transparent pixels are 0, 0, 0, 0.
    int w = 0, h = 0;
    std::vector<uint8_t> t = level_texels(f->texture, 0, &w, &h);
    EXPECT_TRUE(uint32_t(w) == f->tex_w && uint32_t(h) == f->tex_h);
    auto texel = [&](uint32_t x, uint32_t y) { return &t[(static_cast<size_t>(y) * w + x) * 4]; };
    auto rgba = [&](uint32_t x, uint32_t y) { return std::vector<int>(texel(x, y), texel(x, y) + 4); };
    EXPECT_EQ(rgba(f->glyph_x[1], f->glyph_y[1]), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(rgba(f->glyph_x[1] + 1, f->glyph_y[1] + 1), (std::vector<int>{127, 0, 0, 255}));
    EXPECT_EQ(rgba(f->glyph_x[' '], f->glyph_y[' ']), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(FontGl, PlaceholderWhenNothingIsLoadedAndSharedTexturesGoWithTheirLastFont) {
    font_select("profile");
    Font* f = current_font;
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->name, "profile");
    EXPECT_TRUE(f->tex_w == 1 && f->tex_h == 1 && f->glyph_w['x'] == 1 && glIsTexture(f->texture));
    free_fonts();

    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    Font* normal = current_font;
    font_select("normal:bold");
    Font* bold = current_font;
    const uint32_t texture = normal->texture;
    ASSERT_TRUE(bold != normal && bold->texture == texture);
    font_free(bold);
    EXPECT_TRUE(glIsTexture(texture));
    font_free(normal);
    EXPECT_FALSE(glIsTexture(texture));
}

// Columns of window row band [top, top + rows) (from the top) that hold any colour.
std::vector<int> inked_columns(int top, int rows) {
    const std::vector<uint8_t> px = gl_test_pixels(0, GL_TEST_HEIGHT - top - rows, GL_TEST_WIDTH, rows);
    std::vector<int> cols;
    for (int x = 0; x < GL_TEST_WIDTH; ++x)
        for (int y = 0; y < rows; ++y)
            if (px[(static_cast<size_t>(y) * GL_TEST_WIDTH + x) * 3] > 40) {
                cols.push_back(x);
                break;
            }
    return cols;
}

TEST_F(FontGl, TextLandsWhereItIsLaidOutAndLeavesTheStateAsItWas) {
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    const std::string before = gl_test_state();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    text_draw(100, 40, 0, "AW", 0xFFFFFF);
    std::vector<int> cols = inked_columns(40, 13);
    ASSERT_FALSE(cols.empty());
    EXPECT_TRUE(cols.front() >= 100 && cols.back() < 100 + 23);
    EXPECT_GE(cols.back(), 100 + 10 + 9);  // W's right side, after A's advance of 10
    EXPECT_TRUE(inked_columns(0, 40).empty() && inked_columns(53, 30).empty());

    // An absent text shows "NULL?".
    glClear(GL_COLOR_BUFFER_BIT);
    text_draw(300, 200, 0, nullptr, 0xFF0000);
    cols = inked_columns(200, 13);
    EXPECT_TRUE(!cols.empty() && cols.back() - cols.front() >= text_width("NULL") - 2);
    EXPECT_EQ(gl_test_state(), before);
}

}  // namespace
