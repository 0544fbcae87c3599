#pragma once
// What the registry and the loading of fonts share.

#include "platform/font.h"

// A copy of s for a font's name, freed with checked_free.
char* font_copy_name(const char* s);
// The widest glyph and the cell width, from the glyph table.
void font_compute_metrics(Font* f);
// The atlas size as OpenGL holds it, from the texture bound to GL_TEXTURE_2D.
void font_read_texture_size(Font* f);
