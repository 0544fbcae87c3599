#pragma once

// Bitmap fonts held in OpenGL texture atlases: the glyph-stream format, the registry of
// loaded fonts and their size and style variants, and the current-font state that text
// drawing reads.
//
// A glyph stream is a run of records, one per glyph code from 0: a width byte w, a height
// byte h, then w x h palette indices row by row from the top (255 is transparent). At most
// 512 records are read; codes without a record have width 0.

#include <cstddef>
#include <cstdint>

#include "foundation/dynarray.h"

constexpr int FONT_GLYPHS = 512;

struct Font;

// A size and style variant. Compared as a whole, byte for byte (it has no padding).
struct FontAttrs {
    Font* base;      // the font whose atlas and metrics are used
    float width;     // horizontal scale
    float height;    // vertical scale
    float skew;
    float boldness;  // widens the advance by this fraction
    uint32_t glyphs; // 512 for a font loaded from a stream (only those make variants)
    uint32_t reserved;
};

struct Font {
    uint32_t texture;
    uint32_t glyph_x[FONT_GLYPHS];  // top-left corner of the glyph's cell in the atlas
    uint32_t glyph_y[FONT_GLYPHS];
    uint32_t glyph_w[FONT_GLYPHS];  // 0 for a glyph without a record
    uint32_t tex_w, tex_h;
    uint8_t max_w;
    uint8_t line_h;   // height of every glyph cell and of a line of text
    uint8_t cell_w;   // width of 'C' plus one
    char* name;
    FontAttrs attrs;
};

// Palette of the glyph bitmaps: index to red, green and blue from 0 to 1 (255 is drawn
// transparent whatever its colour), and the same as bytes.
void font_palette(uint8_t index, float rgb[3]);
void font_palette_bytes(uint8_t index, uint8_t rgb[3]);

// Registry and current font.
extern DynArray font_registry;       // of Font*, in order of registration
extern Font* current_font;
extern FontAttrs current_font_attrs; // the block of the latest selection request
extern uint8_t text_line_height;     // line_h of the current font's base
extern uint8_t text_cell_width;      // cell_w of the current font's base

// The default block: no base, scales 1, no skew or boldness, glyphs 0.
FontAttrs font_default_attrs();
bool font_attrs_equal(const FontAttrs& a, const FontAttrs& b);

// Turns a glyph stream into an atlas texture and registers it under name; selects it when
// no font is selected. With white set the glyphs are white and their brightness becomes
// alpha. Needs a current OpenGL context.
void font_load(const unsigned char* stream, size_t length, const char* name, uint8_t white);

// The part of font_load that needs no OpenGL: fills f's glyph table, atlas size and metrics
// from the stream and returns the atlas's RGBA texels (tex_w x tex_h, freed with
// checked_free), or null when the atlas would be taller than max_size texels.
uint8_t* font_build(const unsigned char* stream, size_t length, uint8_t white, uint32_t max_size,
                    Font* f);

// Makes the variant named by request current: a font name, then fields that each start
// with a colon, e.g. "normal:bold:size=12px".
void font_select(const char* request);
void font_select_attrs(const FontAttrs& a);
// The block a request names. The name supplies the attributes of the first font registered
// under it (case ignored), else the current font's base with default attributes. Fields,
// case ignored: normal (defaults, same base), scale or size, width, height (=v times, =v%,
// or =vpx of the line height), big, small (times or over 1.5), boldness (=v or =vpx of the
// widest glyph, added), demibold, bold, black, skew or angle (=v added, =vpx, or =v followed
// by the degree sign 0xB0: the tangent, replacing), italic. Unknown fields are ignored.
FontAttrs font_parse(const char* request);
// The registered font closest to a, or a new variant of a loaded font when none is close.
Font* font_find_or_make(const FontAttrs& a);
// A one-texel placeholder font, registered under name (replacing fonts of that name).
Font* font_make_empty(const char* name);
void font_free(Font* f);

// How close a registered font g comes to the block a: above 0 is close enough to reuse.
double font_score(const FontAttrs& a, const Font& g);
// Appends f to the registry (creating it on first use).
void font_register(Font* f);
// Makes f current with its own attributes.
void font_make_current(Font* f);
// Number of whole records in a stream, at most 512; a record that claims more pixels than
// remain ends the count and is not counted.
int font_stream_records(const unsigned char* stream, size_t length);
