#pragma once

// Text in screen pixels with the current font: drawing, measuring, and the rewriting of
// Greek-letter names into glyph escapes.
//
// Text is a zero-terminated byte string. Byte 10 breaks the line; two escapes carry more:
//   2, high, low           draws glyph high x 256 + low (for codes 256 to 511; low may be 0)
//   5, sub, four bytes     sub 1: the bytes are a little-endian float, the pen's new x;
//                          sub 2: a little-endian 16-bit scale in 256ths, then a signed
//                          16-bit baseline shift; other sub-codes are skipped.
// An escape's trailing bytes are data and may be zero; a zero where a code, a glyph
// escape's high byte or a control escape's sub-code is expected ends the text.

#include <cstddef>
#include <cstdint>

#include "platform/font.h"

// Scale applied to all text drawn in the overlay (the HUD and the title menu change it).
extern float text_scale_x;
extern float text_scale_y;
// Extra advance per glyph, as a fraction of text_cell_width.
constexpr float letter_spacing = 0.13f;

// Draws text with its top-left corner at (x, y) in window pixels, in colour 0xRRGGBB.
// wrap 0 draws on one line (apart from line breaks); otherwise a word that would cross
// x = wrap starts a new line at x. An absent text draws "NULL?".
void text_draw(int x, int y, int wrap, const char* text, uint32_t colour);

// Width in pixels of the first line of text (escapes add nothing); 10 without a font.
int text_width(const char* text);

// Rewrites Greek-letter names in place into glyph escapes ("mus" becomes mu, s): lower-case
// initials give small letters (glyphs 256 to 279), upper-case ones capitals (280 to 303),
// and vardelta, varzeta, vartheta, varphi, varomega glyphs 304 to 308. room is the size of
// the buffer: a two-letter name grows the text by one byte and is left as it is when that
// would not fit. Returns text.
char* greek_substitute(char* text, size_t room);

// The placement text_draw uses, without OpenGL: the pen walks the text and each glyph to
// draw goes to the sink with its screen and texture rectangles; a size escape hands the new
// attributes to the sink, which must select them (text_draw also restarts its quads there).
struct GlyphQuad {
    int code;
    float x0, y0, x1, y1;  // screen rectangle, top-left to bottom-right
    float s0, t0, s1, t1;  // texture rectangle in the atlas
};
struct TextSink {
    void* user;
    void (*glyph)(void* user, const GlyphQuad& quad);
    void (*select)(void* user, const FontAttrs& attrs);
};
struct TextPen {
    float x;
    int y;
};
// Needs a current font. Returns where the pen ends.
TextPen text_layout(int x, int y, int wrap, const char* text, const TextSink& sink);
