#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/font_fixture.h"
#include "platform/text.h"

namespace {

std::vector<GlyphQuad> quads;

const TextSink recorder{nullptr, [](void*, const GlyphQuad& q) { quads.push_back(q); },
                        [](void*, const FontAttrs& a) { font_select_attrs(a); }};

std::vector<GlyphQuad> layout(int x, int y, int wrap, const char* text, TextPen* end = nullptr) {
    quads.clear();
    TextPen pen = text_layout(x, y, wrap, text, recorder);
    if (end) *end = pen;
    return quads;
}

// Text in a heap block of exactly its own size, so that a read past it is caught.
std::unique_ptr<char[]> exact(const std::string& bytes) {
    std::unique_ptr<char[]> p(new char[bytes.size() + 1]);
    std::memcpy(p.get(), bytes.c_str(), bytes.size() + 1);
    return p;
}

struct TextLayout : FontState {
    void SetUp() override {
        FontState::SetUp();
        fake_font("normal");
    }
};

TEST_F(TextLayout, AThenWTake23PixelsAndLinesRestartAtX) {
    EXPECT_EQ(text_width("AW"), 23);
    TextPen end;
    std::vector<GlyphQuad> q = layout(40, 7, 0, "AW", &end);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_FLOAT_EQ(end.x, 40 + 23);
    EXPECT_TRUE(q[0].x0 == 40 && q[0].x1 == 49 && q[1].x0 == 50 && q[1].x1 == 62);
    EXPECT_TRUE(q[1].y0 == 7 && q[1].y1 == 20);  // the whole cell height
    EXPECT_FLOAT_EQ(q[1].s1, (current_font->glyph_x['W'] + 12) / 1024.0f);
    EXPECT_FLOAT_EQ(q[1].t1, (current_font->glyph_y['W'] + 13) / 256.0f);

    q = layout(50, 10, 0, "A\nW");
    EXPECT_TRUE(q[1].x0 == 50 && q[1].y0 == 10 + 13 + 1);
    EXPECT_EQ(text_width("A\nWWW"), 10);  // only the first line counts
}

TEST_F(TextLayout, WordWrapStartsANewLineWithoutTheSpace) {
    EXPECT_EQ(layout(0, 0, 0, "AW AW").size(), 5u);  // without wrapping the space is a glyph
    std::vector<GlyphQuad> q = layout(5, 0, 5 + 2 * 23, "AW AW AW");  // room for two words
    ASSERT_EQ(q.size(), 6u);
    EXPECT_TRUE(q[2].x0 == 5 + 23 + 3 && q[2].y0 == 0);
    EXPECT_TRUE(q[4].x0 == 5 && q[4].y0 == 14);
}

TEST_F(TextLayout, EscapesDrawGlyphsMoveThePenAndScale) {
    const Font* normal = current_font;
    const char greek[] = "A\x02\x01\x00W";  // glyph 256: its low byte is 0
    EXPECT_EQ(text_width(greek), 23);       // the escaped glyph is not measured
    std::vector<GlyphQuad> q = layout(0, 0, 0, greek);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_TRUE(q[1].code == 256 && q[2].x0 == 10 + normal->glyph_w[256] + 1);
    EXPECT_EQ(layout(0, 0, 0, "\x02\x07\x01" "A").size(), 1u);  // no glyph 1793

    const float x = 100;
    q = layout(0, 0, 0, ("\x05\x01" + std::string(reinterpret_cast<const char*>(&x), 4) + "A").c_str());
    EXPECT_FLOAT_EQ(q[0].x0, 100);

    // Scale 2 (512 / 256), baseline up by half a line: trunc(128 x 13 x 2 + 128) / 256 = 13;
    // sub-code 3 skips its six bytes.
    const char scaled[] = "A\x05\x02\x00\x02\x80\x00W\x05\x03zzzzA";
    TextPen end;
    q = layout(0, 50, 0, scaled, &end);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_TRUE(q[1].x0 == 10 && q[1].x1 == 10 + 24 && q[1].y0 == 50 - 13 && q[1].y1 == 50 - 13 + 26);
    EXPECT_FLOAT_EQ(q[2].x0, 10 + 25);
    EXPECT_EQ(end.y, 37);
    EXPECT_FLOAT_EQ(current_font->attrs.width, 2);  // the size stays selected
}

TEST_F(TextLayout, EscapesCutByTheTerminatorEndTheText) {
    const struct { const char* text; size_t quads; } cases[] = {
        {"A\x02", 1}, {"A\x05", 1}, {"A\x01", 2}, {"A\x07", 2}, {"A\x04" "B", 3}};
    for (auto c : cases) {
        auto text = exact(c.text);
        EXPECT_EQ(layout(0, 0, 0, text.get()).size(), c.quads) << int(c.text[1]);
        EXPECT_EQ(text_width(text.get()), 10) << int(c.text[1]);
    }
    reset_fonts();
    EXPECT_EQ(text_width("anything"), 10);  // no font
}

// Scales far beyond any screen, from a font request or a size escape, saturate instead of
// wrapping the pixel counts round to negative ones.
TEST_F(TextLayout, HugeScalesSaturate) {
    font_select("normal:size=1e9");
    EXPECT_GT(text_width("AWAWAWAWAWAWAWAWAWAW"), 1 << 29);
    TextPen end;
    layout(0, 0, 0, "A\nW\nA", &end);
    EXPECT_GT(end.y, 1 << 29);
    // Scale 255/256, the baseline raised by 32767/256 of a line: the pen goes up.
    const std::string raise = std::string("A\x05\x02\xff\x00\xff\x7fW", 9);
    layout(0, 0, 0, exact(raise).get(), &end);
    EXPECT_LT(end.y, -(1 << 21));
}

std::string greek(const std::string& in) {
    std::vector<char> buf(in.size() + 8, '#');
    std::memcpy(buf.data(), in.c_str(), in.size() + 1);
    greek_substitute(buf.data(), buf.size());
    size_t n = 0;
    while (buf[n]) n += buf[n] == 2 ? 3 : 1;
    return std::string(buf.data(), n);
}

std::string esc(int glyph) { return std::string{2, char(glyph >> 8), char(glyph & 0xFF)}; }

TEST(GreekSubstitute, NamesBecomeGlyphEscapes) {
    EXPECT_EQ(greek("alpha"), esc(256));
    EXPECT_EQ(greek("Alpha OMEGA"), esc(280) + " " + esc(303));
    EXPECT_EQ(greek("5 mus"), "5 " + esc(267) + "s");
    EXPECT_EQ(greek("alphabeta=Theta xi"), esc(256) + esc(257) + "=" + esc(287) + " " + esc(269));
    EXPECT_EQ(greek("varphi phi vardelta"), esc(307) + " " + esc(276) + " " + esc(304));
    const std::string once = greek("Delta mu eta");
    EXPECT_EQ(greek(once), once);  // escapes are stepped over
}

TEST(GreekSubstitute, ATwoLetterNameThatDoesNotFitStays) {
    auto full = exact("t=5mu beta");
    greek_substitute(full.get(), 11);
    EXPECT_EQ(std::string(full.get()), "t=5mu " + esc(257));
    char room[4] = "pi";  // one byte to spare
    greek_substitute(room, sizeof room);
    EXPECT_EQ(std::string(room, 4), esc(271) + std::string(1, '\0'));
    auto unterminated = exact("alpha");
    greek_substitute(unterminated.get(), 5);  // the terminator lies outside the room given
    EXPECT_STREQ(unterminated.get(), "alpha");
}

}  // namespace
