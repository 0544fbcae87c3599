#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/font_fixture.h"

namespace {

struct Record {
    int w, h;
    std::vector<uint8_t> px;
};

std::vector<Record> builtin_records() {
    std::vector<Record> r;
    size_t pos = 0;
    const unsigned char* s = builtin_font_stream;
    while (pos < builtin_font_stream_size) {
        Record rec{s[pos], s[pos + 1], {}};
        rec.px.assign(s + pos + 2, s + pos + 2 + rec.w * rec.h);
        pos += 2 + rec.w * rec.h;
        r.push_back(rec);
    }
    EXPECT_EQ(pos, builtin_font_stream_size);
    return r;
}

bool text_glyph(int c) {
    return (c > 32 && c < 128) || c == 163 || c == 166 || c == 172 || (c >= 256 && c <= 308);
}

TEST(BuiltinFont, CoverageAndMetrics) {
    const std::vector<Record> r = builtin_records();
    ASSERT_EQ(r.size(), 512u);
    EXPECT_EQ(font_stream_records(builtin_font_stream, builtin_font_stream_size), 512);

    int tallest = 0, widest = 0;
    for (const Record& g : r) {
        tallest = std::max(tallest, g.h);
        widest = std::max(widest, g.w);
    }
    EXPECT_EQ(tallest, 13);
    EXPECT_EQ(widest, 16);
    EXPECT_EQ(r[9].w, 16);
    EXPECT_EQ(r[9].h, 1);
    EXPECT_EQ(r[32].w, 2);
    EXPECT_EQ(r[32].h, 1);
    EXPECT_EQ(r['C'].w, 8);  // so the cell width is 9
    const struct { char c; int w, h; } sizes[] = {
        {'A', 9, 11}, {'W', 12, 11}, {'m', 11, 11}, {'i', 1, 11}, {'g', 7, 13}};
    for (auto s : sizes) {
        EXPECT_EQ(r[s.c].w, s.w) << s.c;
        EXPECT_EQ(r[s.c].h, s.h) << s.c;
    }
    for (char d = '0'; d <= '9'; ++d) {
        EXPECT_GE(r[d].w, 5) << d;
        EXPECT_LE(r[d].w, 7) << d;
        EXPECT_EQ(r[d].h, std::strchr("34579", d) ? 13 : 11) << d;
    }

    for (int c = 0; c < 512; ++c) {
        const Record& g = r[c];
        if (text_glyph(c)) {
            EXPECT_GE(g.h, 10) << c;
            EXPECT_LE(g.h, 13) << c;
            bool inked = false;
            for (uint8_t i : g.px) {
                EXPECT_TRUE(i == 255 || (i >= 16 && i < 40)) << c;  // grey ramp only
                inked |= i > 16 && i != 255;
            }
            EXPECT_TRUE(inked) << c;
        } else if (c < 256 && c != 9 && c != 32) {
            ASSERT_EQ(g.w, 3) << c;
            ASSERT_EQ(g.h, 5) << c;
            EXPECT_EQ(g.px[0], 12) << c;
            EXPECT_EQ(g.px[4], 4) << c;  // dark inside a bright rim
        } else if (c >= 309) {
            EXPECT_EQ(g.w * g.h, 1) << c;
            EXPECT_EQ(g.px[0], 1) << c;
        }
    }
    // The Greek letters and their variants are all different pictures.
    for (int a = 256; a <= 308; ++a)
        for (int b = a + 1; b <= 308; ++b)
            if (r[a].w == r[b].w && r[a].h == r[b].h) {
                EXPECT_NE(r[a].px, r[b].px) << a << " " << b;
            }
}

TEST(FontStream, ReadingStopsAtTheEndAndAtACutRecord) {
    const unsigned char three[] = {1, 1, 16, 2, 1, 16, 17, 1, 2, 18, 19};
    EXPECT_EQ(font_stream_records(three, sizeof three), 3);
    EXPECT_EQ(font_stream_records(three, sizeof three - 1), 2);  // last record short of a pixel
    EXPECT_EQ(font_stream_records(three, 8), 2);                 // a header byte alone
    EXPECT_EQ(font_stream_records(three, 0), 0);
    const unsigned char huge[] = {200, 200, 1, 2, 3};
    EXPECT_EQ(font_stream_records(huge, sizeof huge), 0);
    std::vector<unsigned char> many(600 * 3, 1);  // 600 records of one pixel
    EXPECT_EQ(font_stream_records(many.data(), many.size()), 512);
}

TEST(FontPalette, RampCubeAndBasicColours) {
    auto bytes = [](uint8_t i) {
        uint8_t c[3];
        font_palette_bytes(i, c);
        return std::vector<int>{c[0], c[1], c[2]};
    };
    EXPECT_EQ(bytes(12), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(bytes(4), (std::vector<int>{127, 0, 0}));
    EXPECT_EQ(bytes(1), (std::vector<int>{0, 0, 127}));
    EXPECT_EQ(bytes(7), (std::vector<int>{127, 127, 127}));
    EXPECT_EQ(bytes(8), (std::vector<int>{63, 63, 63}));
    EXPECT_EQ(bytes(15), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(bytes(16), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(bytes(27), (std::vector<int>{122, 122, 122}));
    EXPECT_EQ(bytes(39), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(bytes(41), (std::vector<int>{51, 0, 0}));
    EXPECT_EQ(bytes(40 + 6 + 72), (std::vector<int>{0, 51, 102}));
    EXPECT_EQ(bytes(255), (std::vector<int>{255, 255, 255}));
}

using FontSpecs = FontState;

TEST_F(FontSpecs, KeywordsChangeTheBlock) {
    Font* normal = fake_font("normal");
    ASSERT_EQ(normal->line_h, 13);
    ASSERT_EQ(normal->max_w, 16);

    FontAttrs a = font_parse("normal:size=26px");
    EXPECT_EQ(a.base, normal);
    EXPECT_FLOAT_EQ(a.width, 2);
    EXPECT_FLOAT_EQ(a.height, 2);
    EXPECT_EQ(a.glyphs, 512u);

    a = font_parse("normal:angle=45\xB0");
    EXPECT_NEAR(a.skew, 1.0, 1e-6);
    a = font_parse("Normal:ITALIC:angle=45\xB0");  // the degree form replaces the old skew
    EXPECT_NEAR(a.skew, 1.0, 1e-6);
    a = font_parse("normal:italic:skew=26px:angle=0.1");
    EXPECT_NEAR(a.skew, 0.4 + 2 + 0.1, 1e-6);

    a = font_parse("normal:scale=50%:width=200%");
    EXPECT_FLOAT_EQ(a.width, 1);
    EXPECT_FLOAT_EQ(a.height, 0.5);
    a = font_parse("normal:width=13px:height=6.5px");
    EXPECT_FLOAT_EQ(a.width, 1);
    EXPECT_FLOAT_EQ(a.height, 0.5);
    a = font_parse("normal:big:big:small");
    EXPECT_FLOAT_EQ(a.width, 1.5);

    a = font_parse("normal:demibold:black:boldness=8px:boldness=1%");
    EXPECT_NEAR(a.boldness, 0.03 + 0.08 + 0.5 + 0.01, 1e-6);
    EXPECT_FLOAT_EQ(a.width, 1.2f);

    // "normal" resets everything but the base; unknown keywords and missing numbers do nothing.
    a = font_parse("normal:bold:normal:sparkly:size:width=");
    FontAttrs expect = font_default_attrs();
    expect.base = normal;
    EXPECT_TRUE(font_attrs_equal(a, expect));
}

TEST_F(FontSpecs, UnknownNamesFallBackToTheCurrentBase) {
    Font* normal = fake_font("normal");
    fake_font("other");
    FontAttrs a = font_parse("profile");
    FontAttrs expect = font_default_attrs();
    expect.base = normal;
    EXPECT_TRUE(font_attrs_equal(a, expect));
    a = font_parse("GridWall:bold");
    EXPECT_EQ(a.base, normal);
    EXPECT_EQ(a.glyphs, 0u);
    EXPECT_FLOAT_EQ(a.boldness, 0.05f);
}

TEST_F(FontSpecs, BoldMakesOneVariantOnTheSameAtlas) {
    Font* normal = fake_font("normal", 77);
    font_select("normal:bold");
    ASSERT_EQ(font_registry.count, 2u);
    Font* bold = current_font;
    ASSERT_NE(bold, normal);
    EXPECT_STREQ(bold->name, "normal:width=1.1:boldness=0.05");
    EXPECT_EQ(bold->texture, 77u);
    EXPECT_EQ(bold->attrs.base, normal);
    EXPECT_EQ(bold->glyph_w['A'], 9u);
    EXPECT_EQ(bold->cell_w, 9);
    EXPECT_EQ(text_line_height, 13);
    EXPECT_EQ(text_cell_width, 9);

    font_select("normal:bold");
    font_select("NORMAL");
    EXPECT_EQ(current_font, normal);
    font_select("normal:bold");
    EXPECT_EQ(current_font, bold);
    font_select("normal:demibold:boldness=0.02:width=110%");  // the same block spelt otherwise
    EXPECT_EQ(current_font, bold);
    EXPECT_EQ(font_registry.count, 2u);

    font_select("normal:size=26px:skew=0.1");
    EXPECT_STREQ(current_font->name, "normal:width=2:height=2:skew=0.1");
    EXPECT_EQ(font_registry.count, 3u);
}

TEST_F(FontSpecs, ScoringCountsFivePercentOrHalfAPixelSteps) {
    Font* normal = fake_font("normal");
    Font* other = fake_font("other");
    FontAttrs a = normal->attrs;
    EXPECT_DOUBLE_EQ(font_score(a, *normal), 1);
    EXPECT_DOUBLE_EQ(font_score(a, *other), -1000);
    a.boldness = 0.01f;
    EXPECT_NEAR(font_score(a, *normal), 0.5, 1e-6);
    a = normal->attrs;
    a.width = 2;  // 100 %: 14.2 steps of 5 %, but 32 half pixels at 16 pixels wide
    EXPECT_NEAR(font_score(a, *normal), 1 - 0.5 * std::log(2.0) / std::log(1.05), 1e-5);
    a.width = 1.01f;  // 0.2 steps of 5 % against 0.32 half pixels: the fewer count
    EXPECT_NEAR(font_score(a, *normal), 1 - 0.5 * std::log(1.01) / std::log(1.05), 1e-5);

    // Close enough is reused as it is.
    a = normal->attrs;
    a.skew = 0.01f;
    EXPECT_EQ(font_find_or_make(a), normal);
    EXPECT_EQ(font_registry.count, 2u);
    // On equal scores the later font wins.
    Font* twin = static_cast<Font*>(checked_malloc(sizeof(Font)));
    std::memcpy(twin, normal, sizeof(Font));
    str_dup_into(&twin->name, "twin");
    font_register(twin);
    EXPECT_EQ(font_find_or_make(normal->attrs), twin);
}

TEST_F(FontSpecs, SelectingTheCurrentNameOrBlockDoesNothing) {
    fake_font("normal");
    font_select("profile");
    Font* cur = current_font;
    uint32_t n = font_registry.count;
    font_select("PROFILE");
    font_select_attrs(current_font_attrs);
    EXPECT_EQ(current_font, cur);
    EXPECT_EQ(font_registry.count, n);
}

TEST_F(FontSpecs, FreeingAFontTakesItsVariantsAlong) {
    Font* normal = fake_font("normal");
    Font* other = fake_font("other");
    font_select("normal:bold");
    font_select("normal:italic");
    ASSERT_EQ(font_registry.count, 4u);
    font_free(normal);
    ASSERT_EQ(font_registry.count, 1u);
    EXPECT_EQ(static_cast<Font**>(font_registry.data)[0], other);
    EXPECT_EQ(current_font, other);
    EXPECT_EQ(current_font_attrs.base, other);
}

}  // namespace
