#include "platform/font.h"

#include "platform/opengl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

#include "foundation/dynarray.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "foundation/util.h"
#include "platform/font_internal.h"

static_assert(sizeof(FontAttrs) == sizeof(Font*) + 6 * sizeof(uint32_t),
              "FontAttrs is compared byte for byte and must have no padding");

DynArray font_registry;
Font* current_font = nullptr;
FontAttrs current_font_attrs;
uint8_t text_line_height = 0;
uint8_t text_cell_width = 0;

namespace {

constexpr uint8_t kEmptyLineHeight = 13;

uint32_t registered_count() { return font_registry.data ? font_registry.count : 0; }
Font** registered() { return static_cast<Font**>(font_registry.data); }

// Names compare without regard to the case of A to Z.
bool same_name(const char* a, size_t alen, const char* b) {
    size_t blen = std::strlen(b);
    if (alen != blen) return false;
    for (size_t i = 0; i < alen; ++i)
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    return true;
}

bool same_name(const char* a, const char* b) { return same_name(a, std::strlen(a), b); }

Font* first_named(const char* name, size_t len) {
    for (uint32_t i = 0; i < registered_count(); ++i)
        if (same_name(name, len, registered()[i]->name)) return registered()[i];
    return nullptr;
}

bool has_text(const char* s, size_t n, const char* what) {
    size_t k = std::strlen(what);
    for (size_t i = 0; i + k <= n; ++i)
        if (std::memcmp(s + i, what, k) == 0) return true;
    return false;
}

// Applies one ":keyword" or ":keyword=value" field of a font request to the block.
void apply_field(FontAttrs& a, const char* field, size_t n) {
    const char* eq = static_cast<const char*>(std::memchr(field, '=', n));
    size_t klen = eq ? static_cast<size_t>(eq - field) : n;
    auto is = [&](const char* k) { return same_name(field, klen, k); };

    if (is("normal")) {
        Font* base = a.base;
        a = font_default_attrs();
        a.base = base;
        return;
    }
    if (is("big")) { a.width *= 1.5f; a.height *= 1.5f; return; }
    if (is("small")) { a.width /= 1.5f; a.height /= 1.5f; return; }
    if (is("demibold")) { a.boldness += 0.03f; return; }
    if (is("bold")) { a.boldness += 0.05f; a.width *= 1.1f; return; }
    if (is("black")) { a.boldness += 0.08f; a.width *= 1.2f; return; }
    if (is("italic")) { a.skew += 0.4f; return; }

    // The rest need a number; a keyword without one changes nothing.
    if (!eq) return;
    const char* value = eq + 1;
    size_t vlen = n - klen - 1;
    std::string text(value, vlen);
    char* number_end = nullptr;
    double v = std::strtod(text.c_str(), &number_end);
    if (number_end == text.c_str()) return;
    bool px = has_text(value, vlen, "px");
    bool deg = has_text(value, vlen, "\xB0");
    if (!px && has_text(value, vlen, "%")) v /= 100;
    double L = a.base ? std::max<int>(1, a.base->line_h) : 1;
    double Wm = a.base ? std::max<int>(1, a.base->max_w) : 1;

    if (is("scale") || is("size")) {
        if (px) a.width = a.height = static_cast<float>(v / L);
        else { a.width = static_cast<float>(a.width * v); a.height = static_cast<float>(a.height * v); }
    } else if (is("width")) {
        a.width = static_cast<float>(px ? v / L : a.width * v);
    } else if (is("height")) {
        a.height = static_cast<float>(px ? v / L : a.height * v);
    } else if (is("boldness")) {
        a.boldness = static_cast<float>(a.boldness + (px ? v / Wm : v));
    } else if (is("skew") || is("angle")) {
        if (px) a.skew = static_cast<float>(a.skew + v / L);
        else if (deg) a.skew = static_cast<float>(std::tan(v * std::numbers::pi / 180.0));
        else a.skew = static_cast<float>(a.skew + v);
    }
}

std::string variant_name(const char* base_name, const FontAttrs& a) {
    std::string name = base_name;
    char part[64];
    auto add = [&](const char* fmt, float v) {
        std::snprintf(part, sizeof part, fmt, static_cast<double>(v));
        name += part;
    };
    if (a.width != 1) add(":width=%g", a.width);
    if (a.height != 1) add(":height=%g", a.height);
    if (a.boldness != 0) add(":boldness=%g", a.boldness);
    if (a.skew != 0) add(":skew=%g", a.skew);
    return name;
}

}  // namespace

char* font_copy_name(const char* s) {
    char* copy = nullptr;
    str_dup_into(&copy, s);
    return copy;
}

FontAttrs font_default_attrs() {
    FontAttrs a;
    std::memset(&a, 0, sizeof a);
    a.width = 1;
    a.height = 1;
    return a;
}

bool font_attrs_equal(const FontAttrs& a, const FontAttrs& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void font_register(Font* f) {
    if (!font_registry.data) DynArray_init(&font_registry, sizeof(Font*));
    DynArray_push(&font_registry, &f);
}

void font_make_current(Font* f) {
    current_font = f;
    current_font_attrs = f->attrs;
    const Font* base = f->attrs.base ? f->attrs.base : f;
    text_line_height = base->line_h;
    text_cell_width = base->cell_w;
}

void font_select(const char* request) {
    if (!request) return;
    if (current_font && same_name(request, current_font->name)) return;
    font_select_attrs(font_parse(request));
}

void font_select_attrs(const FontAttrs& a) {
    if (font_attrs_equal(a, current_font_attrs)) return;
    Font* f = font_find_or_make(a);
    if (!f) return;
    if (f != current_font) font_make_current(f);
    current_font_attrs = a;
}

FontAttrs font_parse(const char* request) {
    FontAttrs a = font_default_attrs();
    size_t name_len = std::strcspn(request, ":");
    if (Font* named = first_named(request, name_len)) {
        a = named->attrs;
    } else if (current_font) {
        a.base = current_font->attrs.base;
    } else if (registered_count() == 0) {
        a.base = font_make_empty(request);
    } else {
        a.base = registered()[random_int(static_cast<int>(registered_count()))]->attrs.base;
    }
    const char* p = request + name_len;
    while (*p == ':') {
        ++p;
        size_t n = std::strcspn(p, ":");
        apply_field(a, p, n);
        p += n;
    }
    return a;
}

double font_score(const FontAttrs& a, const Font& g) {
    const FontAttrs& b = g.attrs;
    if (a.base != b.base) return -1000;
    const double wm = a.base ? a.base->max_w : 0, lh = a.base ? a.base->line_h : 0;
    const double step = std::log(1.05);
    // A scale difference counts in steps of 5 percent or of half a pixel, whichever is fewer.
    double sw = std::fmin(std::fabs(std::log(double(a.width) / b.width)) / step,
                          std::fabs(wm * a.width - wm * b.width) / 0.5);
    double sh = std::fmin(std::fabs(std::log(double(a.height) / b.height)) / step,
                          std::fabs(lh * a.height - lh * b.height) / 0.5);
    return 1 - (std::fabs(double(a.boldness) - b.boldness) / 0.02 + 0.5 * (sw + sh) +
                std::fabs(double(a.skew) - b.skew) / 0.05);
}

Font* font_find_or_make(const FontAttrs& a) {
    Font* best = nullptr;
    double best_score = 0;
    Font* source = nullptr;
    double source_score = -1e20;
    // From the last registered to the first: on ties the later font wins.
    for (uint32_t i = registered_count(); i-- > 0;) {
        Font* g = registered()[i];
        double s = font_score(a, *g);
        if (s > best_score) { best = g; best_score = s; }
        if (g->attrs.glyphs == FONT_GLYPHS && s > source_score) { source = g; source_score = s; }
    }
    if (best) return best;
    if (!source) source = a.base;
    if (!source) return nullptr;

    // A new variant: the source's base record (same texture and glyph table) under new attrs.
    const Font* from = source->attrs.base ? source->attrs.base : source;
    Font* v = static_cast<Font*>(checked_malloc(sizeof(Font)));
    std::memcpy(v, from, sizeof(Font));
    v->name = font_copy_name(variant_name(from->name, a).c_str());
    v->attrs = a;
    font_compute_metrics(v);
    font_register(v);
    return v;
}

Font* font_make_empty(const char* name) {
    for (;;) {
        Font* old = first_named(name, std::strlen(name));
        if (!old) break;
        font_free(old);
    }
    Font* f = static_cast<Font*>(checked_calloc(1, sizeof(Font)));
    f->name = font_copy_name(name);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    f->texture = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const uint8_t texel[4] = {255, 255, 255, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texel);
    for (int c = 0; c < FONT_GLYPHS; ++c) f->glyph_w[c] = 1;
    font_compute_metrics(f);
    font_read_texture_size(f);
    f->line_h = kEmptyLineHeight;
    // The placeholder is its own base, so that selecting it finds it again.
    f->attrs = font_default_attrs();
    f->attrs.base = f;
    font_register(f);
    return f;
}

void font_free(Font* f) {
    if (!f) return;
    // Variants read f's glyph table through their base: they go with it.
    for (;;) {
        Font* variant = nullptr;
        for (uint32_t i = 0; i < registered_count() && !variant; ++i)
            if (registered()[i] != f && registered()[i]->attrs.base == f) variant = registered()[i];
        if (!variant) break;
        font_free(variant);
    }
    bool shared = false;
    for (uint32_t i = 0; i < registered_count(); ++i)
        if (registered()[i] != f && registered()[i]->texture == f->texture) shared = true;
    if (!shared && f->texture) {
        GLuint texture = f->texture;
        glDeleteTextures(1, &texture);
    }
    for (uint32_t i = 0; i < registered_count(); ++i)
        if (registered()[i] == f) {
            DynArray_remove(&font_registry, i);
            break;
        }
    // The last request must not keep pointing at a record that is gone.
    if (current_font_attrs.base == f) std::memset(&current_font_attrs, 0, sizeof current_font_attrs);
    bool was_current = current_font == f;
    checked_free(f->name);
    checked_free(f);
    if (was_current) {
        current_font = nullptr;
        if (registered_count() > 0)
            font_make_current(registered()[random_int(static_cast<int>(registered_count()))]);
    }
}
