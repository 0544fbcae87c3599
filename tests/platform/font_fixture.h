#pragma once
// Fonts for tests without OpenGL: the built-in font laid out as font_load lays it out, with no
// texture (or a made-up one), registered as font_load registers it; a reset of the font state.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/font.h"
#include "platform/font_builtin.h"

inline Font* fake_font(const char* name, uint32_t texture = 0) {
    Font* f = static_cast<Font*>(checked_calloc(1, sizeof(Font)));
    checked_free(font_build(builtin_font_stream, builtin_font_stream_size, 0, 2048, f));
    f->texture = texture;
    str_dup_into(&f->name, name);
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
