// fontgen: makes the glyph stream of the built-in font "normal".
//
// It rasterises a TrueType font through FreeType at a small pixel size, quantises the
// anti-aliased coverage onto the 24-level grey ramp of the font palette (indices 16 to 39;
// 255, transparent, where there is no coverage) and writes 512 glyph records (width byte,
// height byte, pixels row by row from the top) as a C++ source file.
//
// Regenerate (needs the Debian packages libfreetype-dev and fonts-dejavu-core):
//   cmake -S tools/fontgen -B build/fontgen && cmake --build build/fontgen
//   build/fontgen/fontgen /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
//       src/platform/font_builtin.cpp [preview.ppm]
// (one command line: the font, the source file to write, and optionally a preview).
// The optional preview is a picture of every glyph and a few sample lines, enlarged 4 times
// (convert it with ImageMagick's `convert preview.ppm preview.png` to look at it).
//
// Layout of a glyph: every cell is 13 rows; rows 0 to 10 lie above the baseline and rows 11
// and 12 hold the descenders. A glyph is stored from the top row of its cell down to its
// lowest inked row (at least 10 rows), and only as wide as its ink, because the game
// advances by the stored width plus one pixel.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_DRIVER_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kCellH = 13;   // rows of every cell: the font's line height
constexpr int kBase = 11;    // rows above the baseline
constexpr int kMinH = 10;    // the shortest stored text glyph
constexpr int kMaxW = 32;    // widest cell the renderer works in
constexpr int kGlyphs = 512;
constexpr uint8_t kClear = 255;     // transparent palette index
constexpr uint8_t kRamp = 16;       // first index of the grey ramp (black)
constexpr int kRampLevels = 24;
constexpr int kFaintLevel = 3;      // ramp levels up to this count as a fringe at a side

struct Glyph {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> px;  // w * h palette indices
};

// Two instances of the font: one hinted by the older TrueType interpreter, which also
// hints horizontally and so keeps thin stems one pixel wide, and one by the current one,
// which hints only vertically and spaces the letters more evenly.
struct Rasteriser {
    FT_Library lib[2] = {nullptr, nullptr};
    FT_Face face[2] = {nullptr, nullptr};
};

struct Style {
    double sx, sy;  // pixel size across and up
    int hinting;    // 0 full (older interpreter), 1 vertical only
};

// The text style: 11 pixels high (cap height 8, descent 2), a little wide.
Style text_style() {
    const char* e = std::getenv("FONTGEN_STYLE");  // "sx sy hinting", to try others
    Style s{13.0, 11.0, 0};
    if (e) std::sscanf(e, "%lf %lf %d", &s.sx, &s.sy, &s.hinting);
    return s;
}
const Style kText = text_style();

void die(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "fontgen: %s %s\n", what, detail.c_str());
    std::exit(1);
}

uint8_t coverage_to_index(int coverage) {
    int level = (coverage * (kRampLevels - 1) + 127) / 255;
    return level == 0 ? kClear : static_cast<uint8_t>(kRamp + level);
}

// Renders code point cp at the size (sx, sy) in pixels, moved down by dy rows, and crops it
// to its ink. A glyph whose ink would leave the 13-row cell (the underscore hangs lower than
// the descenders) is moved back inside it.
Glyph render(Rasteriser& r, unsigned cp, const Style& st, int dy = 0) {
    FT_Face face = r.face[st.hinting];
    if (FT_Get_Char_Index(face, cp) == 0) die("font has no glyph for", std::to_string(cp));
    FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(st.sx * 64)),
                     static_cast<FT_F26Dot6>(std::lround(st.sy * 64)), 72, 72);
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0)
        die("cannot render code point", std::to_string(cp));
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.width > static_cast<unsigned>(kMaxW) || bm.rows > static_cast<unsigned>(kCellH))
        die("glyph too large for code point", std::to_string(cp));

    // Inked rows of the bitmap, to place it inside the cell.
    int first = -1, last = -1;
    for (unsigned y = 0; y < bm.rows; ++y)
        for (unsigned x = 0; x < bm.width; ++x)
            if (coverage_to_index(bm.buffer[y * bm.pitch + x]) != kClear) {
                if (first < 0) first = static_cast<int>(y);
                last = static_cast<int>(y);
            }
    Glyph g;
    if (first < 0) return g;
    int shift = kBase - slot->bitmap_top + dy;
    if (last + shift >= kCellH) shift = kCellH - 1 - last;
    if (first + shift < 0) shift = -first;

    uint8_t cell[kCellH][kMaxW];
    std::fill(&cell[0][0], &cell[0][0] + kCellH * kMaxW, kClear);
    int minc = kMaxW, maxc = -1;
    for (unsigned y = 0; y < bm.rows; ++y) {
        for (unsigned x = 0; x < bm.width; ++x) {
            uint8_t idx = coverage_to_index(bm.buffer[y * bm.pitch + x]);
            if (idx == kClear) continue;
            int col = static_cast<int>(x);
            cell[static_cast<int>(y) + shift][col] = idx;
            minc = std::min(minc, col);
            maxc = std::max(maxc, col);
        }
    }
    // A side column with only a faint fringe (slanted strokes) would read as a gap before
    // the next letter, since the advance is the stored width plus one: drop it.
    auto faint = [&](int col) {
        for (int y = 0; y < kCellH; ++y)
            if (cell[y][col] != kClear && cell[y][col] > kRamp + kFaintLevel) return false;
        return true;
    };
    while (maxc > minc && faint(minc)) {
        for (int y = 0; y < kCellH; ++y) cell[y][minc] = kClear;
        ++minc;
    }
    while (maxc > minc && faint(maxc)) {
        for (int y = 0; y < kCellH; ++y) cell[y][maxc] = kClear;
        --maxc;
    }
    int maxr = -1;
    for (int y = 0; y < kCellH; ++y)
        for (int x = minc; x <= maxc; ++x)
            if (cell[y][x] != kClear) maxr = y;
    g.w = maxc - minc + 1;
    g.h = std::max(kMinH, maxr + 1);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) g.px.push_back(cell[y][minc + x]);
    return g;
}

// Lowest row index holding ink (the glyph's top), or kCellH when it has none.
int top_row(const Glyph& g) {
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x)
            if (g.px[y * g.w + x] != kClear) return y;
    return kCellH;
}

// Renders cp in the text style, or if that does not give exactly the wanted ink width, with
// the nearest horizontal size (either hinting) that does. Used for the few letters whose
// widths the game's layout depends on.
Glyph render_width(Rasteriser& r, unsigned cp, int want) {
    Glyph best = render(r, cp, kText);
    if (best.w == want) return best;
    double best_d = 1e9;
    for (int hinting = 0; hinting < 2; ++hinting) {
        for (double sx = kText.sx * 0.7; sx <= kText.sx * 1.3; sx += 1.0 / 16) {
            Style st = kText;
            st.sx = sx;
            st.hinting = hinting;
            Glyph g = render(r, cp, st);
            double d = std::fabs(sx - kText.sx) + (hinting != kText.hinting ? 1.0 : 0.0);
            if (g.w == want && d < best_d) {
                best = g;
                best_d = d;
            }
        }
    }
    if (best.w != want) die("no size gives the wanted width for", std::to_string(cp));
    return best;
}

// Old-style figures: 0, 1 and 2 stand at x-height, 6 and 8 reach the cap height, and
// 3, 4, 5, 7 and 9 hang from x-height into the descender rows.
Glyph render_digit(Rasteriser& r, int d) {
    const int xtop = top_row(render(r, 'x', kText));
    switch (d) {
    case 0: case 1: case 2:
        // The largest size whose figure top comes no higher than the top of an x.
        for (double k = 1.0; k > 0.5; k -= 1.0 / 64) {
            Glyph g = render(r, '0' + d, Style{kText.sx * k, kText.sy * k, kText.hinting});
            if (top_row(g) >= xtop) return g;
        }
        die("cannot fit a small figure");
        return {};
    case 6: case 8:
        return render(r, '0' + d, kText);
    default: {
        // The lining figure moved down until its top meets the top of an x.
        const Glyph lining = render(r, '0' + d, kText);
        return render(r, '0' + d, kText, xtop - top_row(lining));
    }
    }
}

Glyph transparent(int w) {
    Glyph g;
    g.w = w;
    g.h = 1;
    g.px.assign(w, kClear);
    return g;
}

// The box shown for codes without a character: bright red rim, dark red inside.
Glyph placeholder() {
    Glyph g;
    g.w = 3;
    g.h = 5;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x) g.px.push_back((x == 1 && y > 0 && y < 4) ? 4 : 12);
    return g;
}

Glyph dot() {
    Glyph g;
    g.w = 1;
    g.h = 1;
    g.px.push_back(1);
    return g;
}

// Greek letters in the order of the game's name table (alpha ... omega); the final sigma
// is not among them.
std::vector<unsigned> greek_lower() {
    std::vector<unsigned> v;
    for (unsigned cp = 0x3B1; cp <= 0x3C9; ++cp)
        if (cp != 0x3C2) v.push_back(cp);
    return v;
}

std::vector<unsigned> greek_upper() {
    std::vector<unsigned> v;
    for (unsigned cp = 0x391; cp <= 0x3A9; ++cp)
        if (cp != 0x3A2) v.push_back(cp);
    return v;
}

std::vector<Glyph> build(Rasteriser& r) {
    std::vector<Glyph> font(kGlyphs);
    for (int c = 0; c < 256; ++c) font[c] = placeholder();
    font[9] = transparent(16);   // the tab: a wide blank
    font[32] = transparent(2);   // the space
    for (int c = 33; c < 127; ++c) font[c] = render(r, c, kText);
    font[127] = render(r, 0x2302, kText);  // a house, as old code pages show it
    for (unsigned c : {163u, 166u, 172u}) font[c] = render(r, c, kText);

    // Letters whose widths the game's layout depends on.
    font['A'] = render_width(r, 'A', 9);
    font['C'] = render_width(r, 'C', 8);
    font['W'] = render_width(r, 'W', 12);
    font['m'] = render_width(r, 'm', 11);
    font['i'] = render_width(r, 'i', 1);
    font['g'] = render_width(r, 'g', 7);
    for (int d = 0; d < 10; ++d) font['0' + d] = render_digit(r, d);

    const std::vector<unsigned> lower = greek_lower(), upper = greek_upper();
    for (size_t k = 0; k < lower.size(); ++k) {
        font[256 + k] = render(r, lower[k], kText);
        font[280 + k] = render(r, upper[k], kText);
    }
    // Variant letters: vardelta, varzeta, vartheta, varphi, varomega. The plain phi above is
    // the open form, so varphi is the stroked one.
    const unsigned variants[5] = {0x2202, 0x3DB, 0x3D1, 0x3D5, 0x3D6};
    for (int k = 0; k < 5; ++k) font[304 + k] = render(r, variants[k], kText);
    for (int c = 309; c < kGlyphs; ++c) font[c] = dot();
    return font;
}

std::vector<uint8_t> stream_of(const std::vector<Glyph>& font) {
    std::vector<uint8_t> s;
    for (const Glyph& g : font) {
        if (g.w < 1 || g.w > 255 || g.h < 1 || g.h > kCellH) die("bad glyph size");
        s.push_back(static_cast<uint8_t>(g.w));
        s.push_back(static_cast<uint8_t>(g.h));
        s.insert(s.end(), g.px.begin(), g.px.end());
    }
    return s;
}

void write_source(const char* path, const std::vector<uint8_t>& s) {
    FILE* f = std::fopen(path, "w");
    if (!f) die("cannot write", path);
    std::fprintf(f,
                 "// The built-in font \"normal\": 512 glyph records (width, height, palette\n"
                 "// indices row by row), rasterised from DejaVu Sans by tools/fontgen.\n"
                 "// Generated file: change the tool and run it again rather than editing this.\n"
                 "#include \"platform/font_builtin.h\"\n\n"
                 "const unsigned builtin_font_stream_size = %zu;\n\n"
                 "const unsigned char builtin_font_stream[%zu] = {\n",
                 s.size(), s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        std::fprintf(f, "%s%u,", i % 20 == 0 ? "    " : " ", s[i]);
        if (i % 20 == 19 || i + 1 == s.size()) std::fputc('\n', f);
    }
    std::fprintf(f, "};\n");
    std::fclose(f);
}

// Preview picture --------------------------------------------------------------------------

struct Picture {
    int w, h;
    std::vector<uint8_t> rgb;
    Picture(int w_, int h_) : w(w_), h(h_), rgb(static_cast<size_t>(w_) * h_ * 3, 40) {}
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = r; p[1] = g; p[2] = b;
    }
};

void index_colour(uint8_t i, uint8_t out[3]) {
    float c[3] = {0, 0, 0};
    if (i < 16 && i != 8) {
        for (int k = 0; k < 3; ++k)
            if (i & (4 >> k)) c[k] = (i & 8) ? 1.0f : 0.5f;
    } else if (i == 8) {
        c[0] = c[1] = c[2] = 0.25f;
    } else if (i < 40) {
        c[0] = c[1] = c[2] = (i - 16) / 23.0f;
    } else {
        int k = i - 40;
        c[0] = (k % 6) * 0.2f; c[1] = ((k / 6) % 6) * 0.2f; c[2] = (k / 36) * 0.2f;
    }
    for (int k = 0; k < 3; ++k) out[k] = static_cast<uint8_t>(255.9f * c[k]);
}

// Draws glyph g with its cell's top-left corner at (x, y), each pixel as an s by s block.
void draw_glyph(Picture& p, const Glyph& g, int x, int y, int s) {
    for (int gy = 0; gy < g.h; ++gy)
        for (int gx = 0; gx < g.w; ++gx) {
            uint8_t i = g.px[gy * g.w + gx];
            if (i == kClear) continue;
            uint8_t c[3];
            index_colour(i, c);
            for (int dy = 0; dy < s; ++dy)
                for (int dx = 0; dx < s; ++dx) p.set(x + gx * s + dx, y + gy * s + dy, c[0], c[1], c[2]);
        }
}

void write_preview(const char* path, const std::vector<Glyph>& font) {
    const int s = 4, cols = 32, cw = 18, ch = kCellH + 3;
    std::vector<std::vector<int>> text;
    auto ascii = [](const char* t) {
        std::vector<int> v;
        for (; *t; ++t) v.push_back(static_cast<unsigned char>(*t));
        return v;
    };
    text.push_back(ascii("The quick brown fox jumps over the lazy dog. AW 23 pixels?"));
    text.push_back(ascii("Frame 16.7 ms  0123456789  (x+y)*z [a-b] {c|d} ~#@$%&!"));
    std::vector<int> greek;
    for (int c = 256; c < 309; ++c) greek.push_back(c);
    text.push_back(greek);
    std::vector<int> units = ascii("42.5 ");
    units.push_back(256 + 11);
    units.push_back('s');
    for (int c : {163, 166, 172, 127, 9, 1, 200}) units.push_back(c);
    text.push_back(units);

    const int grid_rows = (kGlyphs + cols - 1) / cols;
    Picture p(cols * cw * s, (grid_rows * ch + static_cast<int>(text.size()) * (kCellH + 1) + 4) * s);
    for (int c = 0; c < kGlyphs; ++c) {
        int x = (c % cols) * cw * s, y = (c / cols) * ch * s;
        for (int k = 0; k < cw * s; ++k) p.set(x + k, y + kCellH * s, 70, 70, 90);  // cell foot
        draw_glyph(p, font[c], x, y, s);
    }
    int y = (grid_rows * ch + 2) * s;
    for (const auto& line : text) {
        int x = 2 * s;
        for (int c : line) {
            draw_glyph(p, font[c], x, y, s);
            x += (font[c].w + 1) * s;
        }
        y += (kCellH + 1) * s;
    }
    FILE* f = std::fopen(path, "wb");
    if (!f) die("cannot write", path);
    std::fprintf(f, "P6\n%d %d\n255\n", p.w, p.h);
    std::fwrite(p.rgb.data(), 1, p.rgb.size(), f);
    std::fclose(f);
}

void report(const std::vector<Glyph>& font, size_t bytes) {
    int maxh = 0, maxw = 0;
    for (int c = 0; c < kGlyphs; ++c) {
        maxh = std::max(maxh, font[c].h);
        maxw = std::max(maxw, font[c].w);
    }
    std::printf("%zu bytes, line height %d, widest %d, C %d wide\n", bytes, maxh, maxw, font['C'].w);
    for (const char* t : {"AWmig", "0123456789"}) {
        for (const char* q = t; *q; ++q) std::printf("%c %dx%d  ", *q, font[*q].w, font[*q].h);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fontgen FONT.ttf OUT.cpp [PREVIEW.ppm]\n");
        return 2;
    }
    Rasteriser r;
    for (int k = 0; k < 2; ++k) {
        if (FT_Init_FreeType(&r.lib[k]) != 0) die("cannot start FreeType");
        FT_UInt version = k == 0 ? 35 : 40;
        FT_Property_Set(r.lib[k], "truetype", "interpreter-version", &version);
        if (FT_New_Face(r.lib[k], argv[1], 0, &r.face[k]) != 0) die("cannot open", argv[1]);
    }
    const std::vector<Glyph> font = build(r);
    const std::vector<uint8_t> s = stream_of(font);
    write_source(argv[2], s);
    if (argc > 3) write_preview(argv[3], font);
    report(font, s.size());
    for (int k = 0; k < 2; ++k) {
        FT_Done_Face(r.face[k]);
        FT_Done_FreeType(r.lib[k]);
    }
    return 0;
}
