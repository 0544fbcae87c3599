#include "platform/font.h"

#include "platform/opengl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/errorlog.h"
#include "platform/font_internal.h"
#include "platform/texture.h"

namespace {

constexpr uint32_t kMaxAtlas = 2048;   // atlases stay within this even if GL allows more

// Finds where each record of the stream starts; returns how many whole records there are.
int read_records(const unsigned char* stream, size_t length, size_t offset[FONT_GLYPHS]) {
    size_t pos = 0;
    int n = 0;
    while (n < FONT_GLYPHS && length - pos >= 2) {
        size_t pixels = static_cast<size_t>(stream[pos]) * stream[pos + 1];
        if (length - pos - 2 < pixels) break;  // cut short: the glyph counts as absent
        offset[n++] = pos;
        pos += 2 + pixels;
    }
    return n;
}

// Brightens one glyph's rectangle of a mipmap level so that its brightest byte becomes
// full and the rest follow a gamma curve: small digits and Greek letters stay legible.
void sharpen_rect(uint8_t* texels, int level_w, int level_h, int x0, int y0, int y1, int w,
                  const uint8_t curve[256]) {
    int x1 = std::min(x0 + w, level_w);
    y1 = std::min(y1, level_h);
    if (x0 >= x1 || y0 >= y1) return;
    float m = 0.001f;
    for (int y = y0; y < y1; ++y)
        for (int b = x0 * 4; b < x1 * 4; ++b) m = std::max(m, float(texels[(y * level_w) * 4 + b]));
    for (int y = y0; y < y1; ++y)
        for (int b = x0 * 4; b < x1 * 4; ++b) {
            uint8_t& t = texels[(y * level_w) * 4 + b];
            t = curve[std::min(255, static_cast<int>(t * 255.4f / m))];
        }
}

void sharpen_levels(const Font* f, int line_h) {
    uint8_t curve[256];
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<uint8_t>(255.9 * std::pow(i / 255.9, 0.4));
    std::vector<uint8_t> texels;
    for (int level = 1;; ++level) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        if (w <= 0 || h <= 0) return;
        texels.assign(static_cast<size_t>(w) * h * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        for (int c = 0; c < FONT_GLYPHS; ++c) {
            if (!((c >= '0' && c <= '9') || (c >= 256 && c < 384))) continue;
            int x0 = static_cast<int>(f->glyph_x[c] >> level);
            int y0 = static_cast<int>(f->glyph_y[c] >> level);
            int y1 = static_cast<int>((f->glyph_y[c] + line_h) >> level);
            int gw = static_cast<int>(f->glyph_w[c] >> level);
            sharpen_rect(texels.data(), w, h, x0, y0, y1, gw, curve);
        }
        glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        if (w == 1 && h == 1) return;
    }
}

// Writes the glyph records into an RGBA atlas at their cells.
void fill_atlas(uint8_t* atlas, const Font* f, const unsigned char* stream, const size_t* offset,
                int records, bool white) {
    for (int c = 0; c < records; ++c) {
        const unsigned char* rec = stream + offset[c];
        int w = rec[0], h = rec[1];
        const unsigned char* px = rec + 2;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t idx = px[y * w + x];
                uint8_t* t = atlas + ((f->glyph_y[c] + y) * f->tex_w + f->glyph_x[c] + x) * 4;
                float rgb[3];
                font_palette(idx, rgb);
                if (white) {
                    t[0] = t[1] = t[2] = 255;
                    t[3] = idx == 255 ? 0 : static_cast<uint8_t>(85.1f * (rgb[0] + rgb[1] + rgb[2]));
                } else if (idx != 255) {
                    font_palette_bytes(idx, t);
                    t[3] = 255;
                }  // transparent texels stay 0, 0, 0, 0
            }
    }
}
}  // namespace

void font_compute_metrics(Font* f) {
    uint32_t widest = 0;
    for (int c = 0; c < FONT_GLYPHS; ++c) widest = std::max(widest, f->glyph_w[c]);
    f->max_w = static_cast<uint8_t>(widest);
    f->cell_w = static_cast<uint8_t>(f->glyph_w[int{'C'}] + 1);
}

void font_read_texture_size(Font* f) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    f->tex_w = static_cast<uint32_t>(w);
    f->tex_h = static_cast<uint32_t>(h);
}

void font_palette(uint8_t i, float rgb[3]) {
    if (i < 16 && i != 8) {
        float on = (i & 8) ? 1.0f : 0.5f;
        rgb[0] = (i & 4) ? on : 0.0f;
        rgb[1] = (i & 2) ? on : 0.0f;
        rgb[2] = (i & 1) ? on : 0.0f;
    } else if (i == 8) {
        rgb[0] = rgb[1] = rgb[2] = 0.25f;
    } else if (i < 40) {
        rgb[0] = rgb[1] = rgb[2] = (i - 16) / 23.0f;
    } else {
        int k = i - 40;
        rgb[0] = (k % 6) * 0.2f;
        rgb[1] = ((k / 6) % 6) * 0.2f;
        rgb[2] = (k / 36) * 0.2f;
    }
}

void font_palette_bytes(uint8_t index, uint8_t rgb[3]) {
    float c[3];
    font_palette(index, c);
    for (int k = 0; k < 3; ++k) rgb[k] = static_cast<uint8_t>(255.9f * c[k]);
}

int font_stream_records(const unsigned char* stream, size_t length) {
    size_t offset[FONT_GLYPHS];
    return read_records(stream, length, offset);
}

uint8_t* font_build(const unsigned char* stream, size_t length, uint8_t white, uint32_t max_size,
                   Font* f) {
    size_t offset[FONT_GLYPHS];
    int records = read_records(stream, length, offset);
    uint32_t tallest = 1;
    for (int c = 0; c < records; ++c) tallest = std::max<uint32_t>(tallest, stream[offset[c] + 1]);
    const uint32_t gap = tallest / 4;

    // Rows of cells, left to right, wrapping when a glyph and its gap pass the limit.
    uint32_t x = 0, y = 0, widest = 0;
    for (int c = 0; c < FONT_GLYPHS; ++c) {
        f->glyph_x[c] = x;
        f->glyph_y[c] = y;
        f->glyph_w[c] = 0;
        if (c >= records) continue;
        uint32_t w = stream[offset[c]];
        f->glyph_w[c] = w;
        x += w + gap;
        if (x > max_size) {
            y += tallest + gap;
            f->glyph_x[c] = 0;
            f->glyph_y[c] = y;
            x = w + gap;
        }
        widest = std::max(widest, f->glyph_x[c] + w);
    }
    f->tex_w = next_pow2(std::max<uint32_t>(widest, 1));
    f->tex_h = next_pow2(y + tallest);
    f->line_h = static_cast<uint8_t>(tallest);
    font_compute_metrics(f);
    if (f->tex_h > max_size) return nullptr;

    // Zeroed texels are transparent; only the glyphs' cells are written.
    const size_t texels = static_cast<size_t>(f->tex_w) * f->tex_h;
    uint8_t* atlas = static_cast<uint8_t*>(checked_calloc(texels, 4));
    fill_atlas(atlas, f, stream, offset, records, white != 0);
    return atlas;
}

void font_load(const unsigned char* stream, size_t length, const char* name, uint8_t white) {
    Font* f = static_cast<Font*>(checked_calloc(1, sizeof(Font)));
    f->name = font_copy_name(name);

    GLint gl_max = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &gl_max);
    const uint32_t limit = std::min<uint32_t>(static_cast<uint32_t>(std::max(gl_max, 0)), kMaxAtlas);
    uint8_t* atlas = font_build(stream, length, white, limit, f);
    if (!atlas) {
        GLint again = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &again);
        std::string msg(std::strlen(name) + 128, '\0');
        std::snprintf(msg.data(), msg.size(), "Font '%s' required texture of size %dx%d but GL_MAX_TEXTURE_SIZE=%d",
                      name, static_cast<int>(f->tex_w), static_cast<int>(f->tex_h), static_cast<int>(again));
        fatal_error(msg.c_str());
    }

    GLuint texture = 0;
    glGenTextures(1, &texture);
    f->texture = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    upload_mipmapped(GL_TEXTURE_2D, 4, static_cast<int>(f->tex_w), static_cast<int>(f->tex_h),
                     atlas);
    checked_free(atlas);
    sharpen_levels(f, f->line_h);

    f->attrs = font_default_attrs();
    f->attrs.base = f;
    f->attrs.glyphs = FONT_GLYPHS;
    font_read_texture_size(f);

    font_register(f);
    if (!current_font) font_make_current(f);
}
