#include "platform/text.h"

#include "platform/opengl.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "foundation/util.h"
#include "platform/framecycle.h"

float text_scale_x = 1.0f;
float text_scale_y = 1.0f;

namespace {

constexpr uint8_t kGlyphEscape = 2;
constexpr uint8_t kControlEscape = 5;
constexpr int kGlyphEscapeLen = 3;
constexpr int kControlEscapeLen = 6;

const Font* base_of(const FontAttrs& a) { return a.base ? a.base : current_font; }

// Pixels as an int, saturated: a font request or a size escape may scale text far beyond any
// screen, and a number outside an int's range has no int value.
int saturate(double v) {
    constexpr double kLimit = 1 << 30;
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -kLimit, kLimit));
}

// Reads a text of at most n bytes; bytes at n and beyond read as the terminator.
struct Bytes {
    const uint8_t* s;
    size_t n;
    uint8_t operator[](size_t i) const { return i < n ? s[i] : 0; }
};

bool is_space(uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); }

int measure(Bytes t) {
    if (!current_font) return 10;
    const FontAttrs& a = current_font->attrs;
    const Font* base = base_of(a);
    const int spacing = static_cast<int>(text_cell_width * letter_spacing + 0.5f);
    int width = 0;
    for (size_t i = 0; t[i] != 0 && t[i] != '\n';) {
        uint8_t c = t[i];
        if (c < 8) {
            // An escape: it and the c bytes after it add nothing. The escapes' first byte
            // after the code is never zero, so a zero there is the end of the text; the
            // other bytes below 8 carry no data and stop at the end as well.
            if (c == kGlyphEscape || c == kControlEscape) {
                if (t[i + 1] == 0) break;
                i += 1 + c;
            } else {
                size_t k = 1;
                while (k <= c && t[i + k] != 0) ++k;
                i += k;
            }
            continue;
        }
        const int glyph = saturate((1 + a.boldness) * base->glyph_w[c] * a.width + 0.5f);
        width = saturate(double(width) + glyph + spacing);
        ++i;
    }
    return width;
}

uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

float read_float(const uint8_t* p) {
    uint32_t bits = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                    (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Where the word after position i ends: the next white-space byte or the end.
size_t word_end(const uint8_t* s, size_t i) {
    while (s[i] != 0 && !is_space(s[i])) ++i;
    return i;
}

// OpenGL side of text_draw.
void gl_glyph(void*, const GlyphQuad& q) {
    glTexCoord2f(q.s0, q.t0);
    glVertex2f(q.x0, q.y0);
    glTexCoord2f(q.s1, q.t0);
    glVertex2f(q.x1, q.y0);
    glTexCoord2f(q.s1, q.t1);
    glVertex2f(q.x1, q.y1);
    glTexCoord2f(q.s0, q.t1);
    glVertex2f(q.x0, q.y1);
}

void gl_select(void*, const FontAttrs& attrs) {
    glEnd();
    font_select_attrs(attrs);
    if (current_font) glBindTexture(GL_TEXTURE_2D, current_font->texture);
    glBegin(GL_QUADS);
}

struct GreekName {
    const char* name;
    int glyph;
};

constexpr const char* kGreek[24] = {
    "alpha", "beta", "gamma", "delta", "epsilon", "zeta",    "eta", "theta",
    "iota",  "kappa", "lambda", "mu",  "nu",      "xi",      "omicron", "pi",
    "rho",   "sigma", "tau",   "upsilon", "phi",  "chi",     "psi", "omega"};

// Tried from the last to the first.
constexpr GreekName kVariants[5] = {
    {"vardelta", 304}, {"varzeta", 305}, {"vartheta", 306}, {"varphi", 307}, {"varomega", 308}};

// Whether the text from i on begins with name (letters A to Z compared without case).
bool begins_with(const uint8_t* s, size_t i, size_t end, const char* name) {
    for (size_t j = 0; name[j]; ++j)
        if (i + j >= end || to_lower(s[i + j]) != name[j]) return false;
    return true;
}

// Replaces the len bytes at i by the escape for glyph; false when it does not fit.
bool put_escape(uint8_t* s, size_t room, size_t& end, size_t i, size_t len, int glyph) {
    if (len < kGlyphEscapeLen && end + (kGlyphEscapeLen - len) >= room) return false;
    std::memmove(s + i + kGlyphEscapeLen, s + i + len, end - (i + len) + 1);
    end = end + kGlyphEscapeLen - len;
    s[i] = kGlyphEscape;
    s[i + 1] = static_cast<uint8_t>(glyph >> 8);
    s[i + 2] = static_cast<uint8_t>(glyph & 0xFF);
    return true;
}

}  // namespace

TextPen text_layout(int x, int y, int wrap, const char* text, const TextSink& sink) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    float px = static_cast<float>(x);
    int py = y;
    if (!current_font) return {px, py};
    const FontAttrs a0 = current_font->attrs;
    FontAttrs a = a0;
    int shift = 0;

    size_t i = 0;
    while (s[i] != 0) {
        int g = s[i];
        if (g == kGlyphEscape) {
            if (s[i + 1] == 0) break;
            g = s[i + 1] * 256 + s[i + 2];
            i += kGlyphEscapeLen;
        } else if (g == kControlEscape) {
            if (s[i + 1] == 0) break;
            const uint8_t* payload = s + i + 2;
            if (s[i + 1] == 1) {
                px = read_float(payload);
            } else if (s[i + 1] == 2) {
                float scale = read_u16(payload) / 256.0f;
                int d = static_cast<int16_t>(read_u16(payload + 2));
                a.width = scale * a0.width;
                a.height = scale * a0.height;
                py = saturate(double(py) + shift);
                shift = saturate(d * base_of(a0)->line_h * a.height + 128) / 256;
                py = saturate(double(py) - shift);
                sink.select(sink.user, a);
            }
            i += kControlEscapeLen;
            continue;
        } else if (g == '\n') {
            px = static_cast<float>(x);
            py = saturate(double(py) + saturate(base_of(a)->line_h * a.height + 0.5f) + 1);
            ++i;
            continue;
        } else {
            ++i;
        }
        if (g >= FONT_GLYPHS) continue;  // no such glyph: nothing drawn, no advance

        const Font* base = base_of(a);
        float next = px + std::floor(base->glyph_w[g] * a.width * (1 + a.boldness) + 0.5f +
                                     text_cell_width * letter_spacing);
        if (wrap != 0 && g == ' ') {
            // i is just past the space: the word that follows starts there.
            size_t end = word_end(s, i);
            if (wrap < px + measure(Bytes{s + i, end - i})) {
                next = static_cast<float>(x);
                py = saturate(double(py) + base->line_h + 1);
            }
        } else {
            const Font* f = current_font;
            GlyphQuad q;
            q.code = g;
            q.x0 = px;
            q.y0 = static_cast<float>(py);
            q.x1 = px + f->glyph_w[g] * a.width;
            q.y1 = py + f->line_h * a.height;
            q.s0 = static_cast<float>(f->glyph_x[g]) / f->tex_w;
            q.t0 = static_cast<float>(f->glyph_y[g]) / f->tex_h;
            q.s1 = static_cast<float>(f->glyph_x[g] + f->glyph_w[g]) / f->tex_w;
            q.t1 = static_cast<float>(f->glyph_y[g] + f->line_h) / f->tex_h;
            sink.glyph(sink.user, q);
        }
        px = next;
    }
    return {px, py};
}

void text_draw(int x, int y, int wrap, const char* text, uint32_t colour) {
    if (!text) text = "NULL?";
    if (text[0] == 0 || !current_font) return;

    glPushAttrib(GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_TRANSFORM_BIT);
    overlay_begin();
    glScalef(text_scale_x, text_scale_y, 1.0f);
    glEnable(GL_BLEND);
    glDisable(GL_LIGHTING);
    // The glyph's colour is added over the background; transparent texels leave it alone.
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, current_font->texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glColor3ub(static_cast<GLubyte>(colour >> 16), static_cast<GLubyte>(colour >> 8),
               static_cast<GLubyte>(colour));
    glBegin(GL_QUADS);
    text_layout(x, y, wrap, text, TextSink{nullptr, gl_glyph, gl_select});
    glEnd();
    overlay_end();
    glPopAttrib();
}

int text_width(const char* text) {
    if (!text) text = "NULL?";
    return measure(Bytes{reinterpret_cast<const uint8_t*>(text), SIZE_MAX});
}

char* greek_substitute(char* text, size_t room) {
    if (!text) return text;
    uint8_t* s = reinterpret_cast<uint8_t*>(text);

    // Find the terminator, stepping over escapes and never looking past the room.
    size_t end = 0;
    for (;;) {
        if (end >= room) return text;  // not terminated within its buffer: leave it
        uint8_t c = s[end];
        if (c == 0) break;
        if (c == kGlyphEscape || c == kControlEscape) {
            if (end + 1 >= room) return text;
            if (s[end + 1] == 0) { ++end; break; }  // cut short: that zero ends the text
            end += c == kGlyphEscape ? kGlyphEscapeLen : kControlEscapeLen;
        } else {
            ++end;
        }
    }

    size_t i = 0;
    while (i < end) {
        if (s[i] == kGlyphEscape || s[i] == kControlEscape) {
            i += s[i] == kGlyphEscape ? kGlyphEscapeLen : kControlEscapeLen;
            continue;
        }
        bool replaced = false;
        for (int k = 0; k < 24; ++k) {
            if (!begins_with(s, i, end, kGreek[k])) continue;
            int glyph = 256 + k + (s[i] < 'a' ? 24 : 0);
            replaced = put_escape(s, room, end, i, std::strlen(kGreek[k]), glyph);
            break;
        }
        for (int k = 4; k >= 0 && !replaced; --k) {
            if (!begins_with(s, i, end, kVariants[k].name)) continue;
            replaced = put_escape(s, room, end, i, std::strlen(kVariants[k].name), kVariants[k].glyph);
            break;
        }
        i += replaced ? kGlyphEscapeLen : 1;
    }
    return text;
}
