#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/font_fixture.h"
#include "platform/text.h"

namespace {

struct Drawn {
    std::vector<GlyphQuad> quads;
    int selections = 0;
};

TextSink recorder(Drawn& d) {
    return TextSink{&d,
                    [](void* u, const GlyphQuad& q) { static_cast<Drawn*>(u)->quads.push_back(q); },
                    [](void* u, const FontAttrs& a) {
                        ++static_cast<Drawn*>(u)->selections;
                        font_select_attrs(a);
                    }};
}

// Text in a heap block of exactly its own size, so that any read past it is caught.
std::unique_ptr<char[]> exact(const std::string& bytes) {
    std::unique_ptr<char[]> p(new char[bytes.size() + 1]);
    std::memcpy(p.get(), bytes.c_str(), bytes.size() + 1);
    return p;
}

std::string with_float(const std::string& before, float v, const std::string& after) {
    char b[4];
    std::memcpy(b, &v, 4);
    return before + std::string(b, 4) + after;
}

using TextLayout = FontState;

TEST_F(TextLayout, AThenWTake23Pixels) {
    fake_font("normal");
    EXPECT_EQ(text_width("AW"), 23);
    Drawn d;
    TextPen end = text_layout(40, 7, 0, "AW", recorder(d));
    EXPECT_FLOAT_EQ(end.x, 63);
    ASSERT_EQ(d.quads.size(), 2u);
    EXPECT_FLOAT_EQ(d.quads[0].x0, 40);
    EXPECT_FLOAT_EQ(d.quads[0].x1, 49);
    EXPECT_FLOAT_EQ(d.quads[1].x0, 50);
    EXPECT_FLOAT_EQ(d.quads[1].x1, 62);
    EXPECT_FLOAT_EQ(d.quads[1].y0, 7);
    EXPECT_FLOAT_EQ(d.quads[1].y1, 20);  // the whole cell height
    // Texture rectangle: the glyph's cell in the atlas.
    const Font* f = current_font;
    EXPECT_FLOAT_EQ(d.quads[1].s0, f->glyph_x['W'] / 1024.0f);
    EXPECT_FLOAT_EQ(d.quads[1].s1, (f->glyph_x['W'] + 12) / 1024.0f);
    EXPECT_FLOAT_EQ(d.quads[1].t1, (f->glyph_y['W'] + 13) / 256.0f);
}

TEST_F(TextLayout, LineBreaksReturnToTheStartingX) {
    fake_font("normal");
    Drawn d;
    text_layout(50, 10, 0, "A\nW", recorder(d));
    ASSERT_EQ(d.quads.size(), 2u);
    EXPECT_FLOAT_EQ(d.quads[1].x0, 50);
    EXPECT_FLOAT_EQ(d.quads[1].y0, 10 + 13 + 1);
    EXPECT_EQ(text_width("A\nWWW"), 10);  // only the first line counts
}

TEST_F(TextLayout, WordWrapStartsANewLineWithoutTheSpace) {
    fake_font("normal");
    const int aw = text_width("AW");
    Drawn d;
    text_layout(0, 0, 0, "AW AW", recorder(d));
    ASSERT_EQ(d.quads.size(), 5u);  // without wrapping the space is an ordinary glyph
    EXPECT_FLOAT_EQ(d.quads[3].x0, aw + 3);

    d = {};
    text_layout(5, 0, 5 + 2 * aw, "AW AW AW", recorder(d));  // room for two words, not three
    ASSERT_EQ(d.quads.size(), 6u);
    for (const GlyphQuad& q : d.quads) EXPECT_NE(q.code, ' ');
    EXPECT_FLOAT_EQ(d.quads[2].x0, 5 + aw + 3);
    EXPECT_FLOAT_EQ(d.quads[2].y0, 0);
    EXPECT_FLOAT_EQ(d.quads[4].x0, 5);
    EXPECT_FLOAT_EQ(d.quads[4].y0, 14);
}

TEST_F(TextLayout, GlyphEscapesDrawButDoNotMeasure) {
    fake_font("normal");
    const char text[] = "A\x02\x01\x00W";  // glyph 256 in the middle: its low byte is 0
    EXPECT_EQ(text_width(text), 23);
    Drawn d;
    text_layout(0, 0, 0, text, recorder(d));
    ASSERT_EQ(d.quads.size(), 3u);
    EXPECT_EQ(d.quads[1].code, 256);
    EXPECT_EQ(d.quads[2].code, 'W');
    EXPECT_FLOAT_EQ(d.quads[2].x0, 10 + current_font->glyph_w[256] + 1);

    d = {};
    text_layout(0, 0, 0, "\x02\x07\x01" "A", recorder(d));  // no glyph 1793: skipped
    ASSERT_EQ(d.quads.size(), 1u);
    EXPECT_FLOAT_EQ(d.quads[0].x0, 0);
}

TEST_F(TextLayout, ControlEscapesMoveThePenAndScale) {
    Font* normal = fake_font("normal");
    Drawn d;
    text_layout(0, 0, 0, with_float("\x05\x01", 100.0f, "A").c_str(), recorder(d));
    ASSERT_EQ(d.quads.size(), 1u);
    EXPECT_FLOAT_EQ(d.quads[0].x0, 100);

    // Scale 2 (512 / 256), baseline raised by half a line: trunc(128 x 13 x 2 + 128) / 256.
    d = {};
    const char scaled[] = "A\x05\x02\x00\x02\x80\x00W\x05\x03zzzzA";
    TextPen end = text_layout(0, 50, 0, std::string(scaled, sizeof scaled - 1).c_str(), recorder(d));
    ASSERT_EQ(d.quads.size(), 3u);  // sub-code 3 skips its six bytes
    EXPECT_EQ(d.selections, 1);
    EXPECT_FLOAT_EQ(d.quads[1].x0, 10);
    EXPECT_FLOAT_EQ(d.quads[1].x1 - d.quads[1].x0, 24);
    EXPECT_FLOAT_EQ(d.quads[1].y0, 50 - 13);
    EXPECT_FLOAT_EQ(d.quads[1].y1 - d.quads[1].y0, 26);
    EXPECT_FLOAT_EQ(d.quads[2].x0, 10 + 25);
    EXPECT_EQ(end.y, 37);
    EXPECT_NE(current_font, normal);  // the size stays selected
    EXPECT_FLOAT_EQ(current_font->attrs.width, 2);
}

TEST_F(TextLayout, EscapesCutByTheTerminatorEndTheText) {
    fake_font("normal");
    const struct { const char* text; size_t quads; } cases[] = {
        {"A\x02", 1}, {"A\x05", 1}, {"A\x01", 2}, {"A\x07", 2}, {"A\x04" "B", 3}};
    for (auto c : cases) {
        auto text = exact(c.text);
        Drawn d;
        text_layout(0, 0, 0, text.get(), recorder(d));
        EXPECT_EQ(d.quads.size(), c.quads) << int(c.text[1]);
        EXPECT_EQ(text_width(text.get()), 10) << int(c.text[1]);  // bytes below 8 add nothing
    }
    EXPECT_EQ(text_width(nullptr), text_width("NULL?"));
}

TEST_F(TextLayout, NoFontMeasuresTen) {
    EXPECT_EQ(text_width("anything"), 10);
}

std::string greek(const std::string& in, size_t extra = 8) {
    std::vector<char> buf(in.size() + 1 + extra, '#');
    std::memcpy(buf.data(), in.c_str(), in.size() + 1);
    greek_substitute(buf.data(), buf.size());
    size_t n = 0;  // the end, stepping over escapes
    while (buf[n]) n += buf[n] == 2 ? 3 : 1;
    return std::string(buf.data(), n);
}

std::string esc(int glyph) { return std::string{2, char(glyph >> 8), char(glyph & 0xFF)}; }

TEST(GreekSubstitute, NamesBecomeGlyphEscapes) {
    EXPECT_EQ(greek("alpha"), esc(256));
    EXPECT_EQ(greek("Alpha"), esc(280));
    EXPECT_EQ(greek("OMEGA"), esc(303));
    EXPECT_EQ(greek("5 mus"), "5 " + esc(267) + "s");
    EXPECT_EQ(greek("alphabeta=Theta"), esc(256) + esc(257) + "=" + esc(287));
    EXPECT_EQ(greek("xi pi nu"), esc(269) + " " + esc(271) + " " + esc(268));
    EXPECT_EQ(greek("varphi phi vartheta"), esc(307) + " " + esc(276) + " " + esc(306));
    EXPECT_EQ(greek("alphabet"), esc(256) + "bet");
    EXPECT_EQ(greek("xyz 12"), "xyz 12");
    // Running it again changes nothing: escapes are stepped over.
    std::string once = greek("Delta mu eta");
    EXPECT_EQ(greek(once), once);
}

TEST(GreekSubstitute, ATwoLetterNameThatDoesNotFitStays) {
    auto buf = exact("t=5mu");  // no byte to spare
    greek_substitute(buf.get(), 6);
    EXPECT_STREQ(buf.get(), "t=5mu");
    auto longer = exact("mu beta");  // beta shrinks, but mu comes first and finds no room
    greek_substitute(longer.get(), 8);
    EXPECT_EQ(std::string(longer.get()), "mu " + esc(257));

    char room[4] = "pi";  // one byte to spare: just fits
    greek_substitute(room, sizeof room);
    EXPECT_EQ(std::string(room, 4), esc(271) + std::string(1, '\0'));

    auto unterminated = exact("alpha");
    greek_substitute(unterminated.get(), 5);  // the terminator lies outside the room given
    EXPECT_STREQ(unterminated.get(), "alpha");
}

}  // namespace
