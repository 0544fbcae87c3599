#pragma once

// Fonts for tests that need no OpenGL: records built from a glyph stream's widths alone,
// registered as font_load would register them, and a reset of the whole font state.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/font.h"
#include "platform/font_builtin.h"

// Widths and heights of the records of a stream (a missing record: width and height 0).
inline void stream_sizes(const unsigned char* s, size_t n, int w[FONT_GLYPHS], int h[FONT_GLYPHS]) {
    size_t pos = 0;
    for (int c = 0; c < FONT_GLYPHS; ++c) {
        w[c] = h[c] = 0;
        if (c < font_stream_records(s, n)) {
            w[c] = s[pos];
            h[c] = s[pos + 1];
            pos += 2 + static_cast<size_t>(w[c]) * h[c];
        }
    }
}

// A loaded font without a texture: the built-in font's glyph table on a made-up atlas.
inline Font* fake_font(const char* name, uint32_t texture = 0) {
    int w[FONT_GLYPHS], h[FONT_GLYPHS];
    stream_sizes(builtin_font_stream, builtin_font_stream_size, w, h);
    Font* f = static_cast<Font*>(checked_calloc(1, sizeof(Font)));
    f->texture = texture;
    str_dup_into(&f->name, name);
    uint8_t tallest = 0, widest = 0;
    for (int c = 0; c < FONT_GLYPHS; ++c) {
        f->glyph_w[c] = w[c];
        f->glyph_x[c] = 20 * (c % 32);
        f->glyph_y[c] = 16 * (c / 32);
        tallest = std::max<uint8_t>(tallest, h[c]);
        widest = std::max<uint8_t>(widest, w[c]);
    }
    f->tex_w = 1024;
    f->tex_h = 256;
    f->line_h = tallest;
    f->max_w = widest;
    f->cell_w = static_cast<uint8_t>(w['C'] + 1);
    f->attrs = font_default_attrs();
    f->attrs.base = f;
    f->attrs.glyphs = FONT_GLYPHS;
    font_register(f);
    if (!current_font) font_make_current(f);
    return f;
}

// Forgets every font (without touching OpenGL) and the current selection.
inline void reset_fonts() {
    Font** all = static_cast<Font**>(font_registry.data);
    for (uint32_t i = 0; all && i < font_registry.count; ++i) {
        checked_free(all[i]->name);
        checked_free(all[i]);
    }
    if (font_registry.data) DynArray_free(font_registry);
    std::memset(&font_registry, 0, sizeof font_registry);
    current_font = nullptr;
    std::memset(&current_font_attrs, 0, sizeof current_font_attrs);
    text_line_height = text_cell_width = 0;
}

struct FontState : ::testing::Test {
    void SetUp() override { reset_fonts(); }
    void TearDown() override { reset_fonts(); }
};
