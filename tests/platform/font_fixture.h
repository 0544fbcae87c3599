#pragma once

// Fonts for tests without OpenGL: the built-in font's glyph table on a made-up atlas,
// registered as font_load registers a font, and a reset of the whole font state.

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/font.h"
#include "platform/font_builtin.h"

inline Font* fake_font(const char* name, uint32_t texture = 0) {
    Font* f = static_cast<Font*>(checked_calloc(1, sizeof(Font)));
    f->texture = texture;
    str_dup_into(&f->name, name);
    const unsigned char* rec = builtin_font_stream;
    for (int c = 0; c < FONT_GLYPHS; ++c, rec += 2 + rec[0] * rec[1]) {
        f->glyph_w[c] = rec[0];
        f->glyph_x[c] = 20 * (c % 32);
        f->glyph_y[c] = 16 * (c / 32);
    }
    f->tex_w = 1024;
    f->tex_h = 256;
    f->line_h = 13;
    f->max_w = 16;
    f->cell_w = 9;
    f->attrs = font_default_attrs();
    f->attrs.base = f;
    f->attrs.glyphs = FONT_GLYPHS;
    font_register(f);
    if (!current_font) font_make_current(f);
    return f;
}

// Forgets every font without touching OpenGL.
inline void reset_fonts() {
    for (uint32_t i = 0; font_registry.data && i < font_registry.count; ++i) {
        Font* f = static_cast<Font**>(font_registry.data)[i];
        checked_free(f->name);
        checked_free(f);
    }
    if (font_registry.data) DynArray_free(font_registry);
    std::memset(&font_registry, 0, sizeof font_registry);
    current_font = nullptr;
    std::memset(&current_font_attrs, 0, sizeof current_font_attrs);
}

// Frees every font through font_free, textures included (needs the OpenGL context).
inline void free_fonts() {
    while (font_registry.data && font_registry.count > 0) font_free(static_cast<Font**>(font_registry.data)[0]);
    reset_fonts();
}

struct FontState : ::testing::Test {
    void SetUp() override { reset_fonts(); }
    void TearDown() override { reset_fonts(); }
};
