#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/font.h"
#include "platform/font_fixture.h"

namespace {

TEST(FontStream, ReadingStopsAtTheEndAndAtACutRecord) {
    const unsigned char three[] = {1, 1, 16, 2, 1, 16, 17, 1, 2, 18, 19};
    EXPECT_EQ(font_stream_records(three, sizeof three), 3);
    EXPECT_EQ(font_stream_records(three, sizeof three - 1), 2);  // the last one short of a pixel
    EXPECT_EQ(font_stream_records(three, 8), 2);                 // a header byte alone
    const unsigned char huge[] = {200, 200, 1, 2, 3};
    EXPECT_EQ(font_stream_records(huge, sizeof huge), 0);
    std::vector<unsigned char> many(600 * 3, 1);
    EXPECT_EQ(font_stream_records(many.data(), many.size()), 512);
}

using FontRequests = FontState;

TEST_F(FontRequests, FieldsChangeTheBlock) {
    Font* normal = fake_font("normal");
    FontAttrs a = font_parse("normal:size=26px");
    EXPECT_EQ(a.base, normal);
    EXPECT_FLOAT_EQ(a.width, 2);
    EXPECT_FLOAT_EQ(a.height, 2);
    EXPECT_EQ(a.glyphs, 512u);
    EXPECT_NEAR(font_parse("Normal:ITALIC:angle=45\xB0").skew, 1.0, 1e-6);  // replaces the italic
    EXPECT_NEAR(font_parse("normal:italic:skew=26px:angle=0.1").skew, 2.5, 1e-6);
    a = font_parse("normal:scale=50%:width=200%:big:big:small");
    EXPECT_FLOAT_EQ(a.width, 1.5);
    EXPECT_FLOAT_EQ(a.height, 0.75);
    a = font_parse("normal:demibold:black:boldness=8px:boldness=1%:height=6.5px");
    EXPECT_NEAR(a.boldness, 0.03 + 0.08 + 0.5 + 0.01, 1e-6);
    EXPECT_FLOAT_EQ(a.width, 1.2f);
    EXPECT_FLOAT_EQ(a.height, 0.5);
    // "normal" resets all but the base; unknown fields and missing numbers change nothing.
    FontAttrs expect = font_default_attrs();
    expect.base = normal;
    EXPECT_TRUE(font_attrs_equal(font_parse("normal:bold:normal:sparkly:size:width="), expect));
    // A name nobody registered takes the current font's base with default attributes.
    fake_font("other");
    EXPECT_TRUE(font_attrs_equal(font_parse("profile"), expect));
    EXPECT_EQ(font_parse("GridWall:bold").base, normal);
}

TEST_F(FontRequests, BoldMakesOneVariantOnTheSameAtlasAndReusesIt) {
    Font* normal = fake_font("normal", 77);
    font_select("normal:bold");
    Font* bold = current_font;
    ASSERT_EQ(font_registry.count, 2u);
    EXPECT_STREQ(bold->name, "normal:width=1.1:boldness=0.05");
    EXPECT_EQ(bold->texture, 77u);
    EXPECT_EQ(bold->attrs.base, normal);
    EXPECT_EQ(bold->cell_w, 9);
    font_select("NORMAL");
    EXPECT_EQ(current_font, normal);
    font_select("normal:demibold:boldness=0.02:width=110%");  // the same block spelt otherwise
    EXPECT_EQ(current_font, bold);
    font_select("normal:size=26px:skew=0.1");
    EXPECT_STREQ(current_font->name, "normal:width=2:height=2:skew=0.1");
    EXPECT_EQ(font_registry.count, 3u);
}

TEST_F(FontRequests, ScoringPrefersTheSameBaseAndTheLaterOfEqualFonts) {
    Font* normal = fake_font("normal");
    FontAttrs a = normal->attrs;
    EXPECT_DOUBLE_EQ(font_score(a, *fake_font("other")), -1000);
    a.width = 2;  // 14.2 steps of 5 % rather than 32 half pixels
    EXPECT_NEAR(font_score(a, *normal), 1 - 0.5 * std::log(2.0) / std::log(1.05), 1e-5);
    Font* twin = static_cast<Font*>(checked_malloc(sizeof(Font)));
    std::memcpy(twin, normal, sizeof(Font));
    str_dup_into(&twin->name, "twin");
    font_register(twin);
    EXPECT_EQ(font_find_or_make(normal->attrs), twin);
}

TEST_F(FontRequests, FreeingAFontTakesItsVariantsAlong) {
    Font* normal = fake_font("normal");
    Font* other = fake_font("other");
    font_select("normal:bold");
    font_select("normal:italic");
    ASSERT_EQ(font_registry.count, 4u);
    font_free(normal);
    ASSERT_EQ(font_registry.count, 1u);
    EXPECT_EQ(current_font, other);
    EXPECT_EQ(current_font_attrs.base, other);
}

}  // namespace
