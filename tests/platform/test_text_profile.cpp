// Fonts and text: the glyph stream, font requests and their variants, layout and its escapes,
// Greek names; on OpenGL the built-in font's atlas and drawn text. The profiler (sections per
// frame, durations as text and in the times log, the bar) and its trace file: names quoted,
// counters, files it must not append to left alone, the size limit, a failed write taken back
// (against "times.log": replay.trace); the frames counted under valgrind (an off-by-one here
// would move every count).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/countmarks.h"
#include "platform/font_fixture.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(FontStream, ReadingStopsAtTheEndAndAtACutRecord) {
    const unsigned char three[] = {1, 1, 16, 2, 1, 16, 17, 1, 2, 18, 19};
    EXPECT_EQ(font_stream_records(three, sizeof three), 3);
    EXPECT_EQ(font_stream_records(three, sizeof three - 1), 2);  // the last one short of a pixel
    EXPECT_EQ(font_stream_records(three, 8), 2);                 // a header byte alone
    const unsigned char huge[] = {200, 200, 1, 2, 3};  // a glyph record longer than the stream
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
    const Font* f = current_font;
    EXPECT_FLOAT_EQ(q[1].s1, float(f->glyph_x['W'] + 12) / f->tex_w);
    EXPECT_FLOAT_EQ(q[1].t1, float(f->glyph_y['W'] + 13) / f->tex_h);

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

// The built-in font on a real context: its atlas, textures shared by variants, drawn text.
class FontGl : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        free_fonts();
    }
    void TearDown() override { free_fonts(); }
};

TEST_F(FontGl, BuiltinAtlasAndMetrics) {
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    Font* f = current_font;
    ASSERT_TRUE(f && font_registry.count == 1);
    EXPECT_TRUE(f->line_h == 13 && f->max_w == 16 && f->cell_w == 9 && text_line_height == 13 && text_cell_width == 9);
    EXPECT_TRUE(f->attrs.base == f && f->attrs.glyphs == 512);

    // Cells in rows, 3 pixels apart (13 / 4), inside a power-of-two atlas.
    EXPECT_EQ(f->glyph_x[1], 3u + 3u);
    EXPECT_TRUE((f->tex_w & (f->tex_w - 1)) == 0 && (f->tex_h & (f->tex_h - 1)) == 0);
    for (int c = 1; c < 512; ++c) {
        EXPECT_TRUE(f->glyph_x[c] + f->glyph_w[c] <= f->tex_w && f->glyph_y[c] + 13 <= f->tex_h) << c;
        if (f->glyph_y[c] == f->glyph_y[c - 1]) {
            EXPECT_EQ(f->glyph_x[c], f->glyph_x[c - 1] + f->glyph_w[c - 1] + 3) << c;
        }
    }

    // Level 0: palette colours, opaque; transparent pixels are 0, 0, 0, 0.
    int w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, f->texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_TRUE(uint32_t(w) == f->tex_w && uint32_t(h) == f->tex_h);
    std::vector<uint8_t> t(static_cast<size_t>(w) * h * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, t.data());
    auto rgba = [&](uint32_t x, uint32_t y) {
        const uint8_t* texel = &t[(static_cast<size_t>(y) * w + x) * 4];
        return std::vector<int>(texel, texel + 4);
    };
    EXPECT_EQ(rgba(f->glyph_x[1], f->glyph_y[1]), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(rgba(f->glyph_x[1] + 1, f->glyph_y[1] + 1), (std::vector<int>{127, 0, 0, 255}));
    EXPECT_EQ(rgba(f->glyph_x[' '], f->glyph_y[' ']), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(FontGl, PlaceholderWhenNothingIsLoadedAndSharedTexturesGoWithTheirLastFont) {
    font_select("profile");
    Font* f = current_font;
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->name, "profile");
    EXPECT_TRUE(f->tex_w == 1 && f->tex_h == 1 && f->glyph_w['x'] == 1 && glIsTexture(f->texture));
    free_fonts();

    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    Font* normal = current_font;
    font_select("normal:bold");
    Font* bold = current_font;
    const uint32_t texture = normal->texture;
    ASSERT_TRUE(bold != normal && bold->texture == texture);
    font_free(bold);
    EXPECT_TRUE(glIsTexture(texture));
    font_free(normal);
    EXPECT_FALSE(glIsTexture(texture));
}

// Columns of window row band [top, top + rows) (from the top) that hold any colour.
std::vector<int> inked_columns(int top, int rows) {
    const std::vector<uint8_t> px = gl_test_pixels(0, GL_TEST_HEIGHT - top - rows, GL_TEST_WIDTH, rows);
    std::vector<int> cols;
    for (int x = 0; x < GL_TEST_WIDTH; ++x)
        for (int y = 0; y < rows; ++y)
            if (px[(static_cast<size_t>(y) * GL_TEST_WIDTH + x) * 3] > 40) {
                cols.push_back(x);
                break;
            }
    return cols;
}

TEST_F(FontGl, TextLandsWhereItIsLaidOutAndLeavesTheStateAsItWas) {
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    const std::string before = gl_test_state();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    text_draw(100, 40, 0, "AW", 0xFFFFFF);
    std::vector<int> cols = inked_columns(40, 13);
    ASSERT_FALSE(cols.empty());
    EXPECT_TRUE(cols.front() >= 100 && cols.back() < 100 + 23);
    EXPECT_GE(cols.back(), 100 + 10 + 9);  // W's right side, after A's advance of 10
    EXPECT_TRUE(inked_columns(0, 40).empty() && inked_columns(53, 30).empty());

    // An absent text shows "NULL?".
    glClear(GL_COLOR_BUFFER_BIT);
    text_draw(300, 200, 0, nullptr, 0xFF0000);
    cols = inked_columns(200, 13);
    EXPECT_TRUE(!cols.empty() && cols.back() - cols.front() >= text_width("NULL") - 2);
    EXPECT_EQ(gl_test_state(), before);
}

// The profiler reads the time only through clock_seconds: tests hand it a script.
std::vector<double> ticks;
std::size_t next_tick = 0;
double scripted_clock() { return next_tick < ticks.size() ? ticks[next_tick++] : ticks.back(); }

// Marks each label at the given times; the time after the last label closes the frame.
void frame(const std::vector<const char*>& labels, const std::vector<double>& times) {
    ticks = times;
    next_tick = 0;
    profile_section(nullptr, 0);
    for (const char* l : labels) profile_section(l, 0);
}

std::string sections() {  // "label duration" of each section of the current slot
    std::string out;
    for (uint32_t i = 0; i < profile_ring[profile_slot].count; i++) {
        const ProfileMark& m = DynArray_at<ProfileMark>(&profile_ring[profile_slot], i);
        out += std::string(m.label) + " " + std::to_string(m.time) + ";";
    }
    return out;
}

class Profile : public testing::Test {
protected:
    void SetUp() override { clock_seconds = scripted_clock; }
    void TearDown() override {
        profile_section(nullptr, 0);
        clock_seconds = clock_calibrate;
    }
};

// A scratch folder, and a frame of one section shown by the profiler.
class Trace : public testing::Test {
protected:
    void SetUp() override { profile_section("a section", 0), profile_close_frame(0), profile_next_frame(); }
    ScratchDir scratch;
};

bool ends_as_array(const std::string& t) {
    return t.size() >= 5 && t.compare(0, 2, "[\n") == 0 && t.compare(t.size() - 3, 3, "\n]\n") == 0;
}

}  // namespace

TEST(ProfileText, ScaleRoundsUpTo1_2Or5TimesAPowerOfTenAndDurationsTakeFourUnits) {
    const double frames[][2] = {{0.016, 0.02}, {0.030, 0.05}, {0.060, 0.1}, {3.0, 5.0}, {0.0, 1.0}};
    for (const auto& f : frames) EXPECT_DOUBLE_EQ(profile_time_scale(f[0]), f[1]) << f[0];
    char out[DURATION_TEXT_SIZE];
    const std::pair<double, std::string> cases[] = {
        {2.5e-4, "250 \x02\x01\x0bs"},  // the letter mu (glyph 267), then s
        {2.5e-7, "250 ns"}, {0.0125, "12.5 ms"}, {2.0, "2 sec"}};
    for (const auto& [t, text] : cases) EXPECT_EQ((format_duration(out, t), out), text);
}

TEST_F(Profile, SameLabelTwiceIsTwoSectionsUnlessMerged) {
    frame({"adv", "col", "adv"}, {0.0, 0.25, 0.75, 1.5});
    EXPECT_DOUBLE_EQ(profile_close_frame(0), 1.5);
    EXPECT_EQ(sections(), "adv 0.250000;col 0.500000;adv 0.750000;");
    frame({"adv", "col", "adv"}, {0.0, 0.25, 0.75, 1.5});
    profile_close_frame(1);
    EXPECT_EQ(sections(), "adv 1.000000;col 0.500000;") << "in order of first appearance";
    frame({"only"}, {1.0, 1.25});
    profile_close_frame(0);
    EXPECT_EQ(sections(), "only 0.250000;") << "a single mark runs up to the close";
}

TEST_F(Profile, OneLineOfTabSeparatedDurationsPerFrame) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    frame({"a", "b", "c"}, {0.0, 0.5, 0.75, 1.0});
    profile_close_frame(0);
    profile_next_frame();
    EXPECT_EQ(profile_ring[profile_slot].count, 0u) << "the new frame starts empty";
    profile_write_previous(log);
    frame({"a"}, {2.0, 2.125});
    profile_close_frame(0);
    profile_next_frame();
    profile_write_previous(log);
    profile_next_frame();  // a frame never shown still writes its line end
    profile_write_previous(log);
    std::rewind(log);
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, log), 21u);
    EXPECT_STREQ(text, "0.5\t0.25\t0.25\n0.125\n\n");
    std::fclose(log);
}

// The horizontal bar on a real context: each section's box starts at its
// share of the time scale, in its colour, two lines high.
using ProfileGl = FontGl;

TEST_F(ProfileGl, BarPlacesSectionsOnTheScale) {
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    screen_width = GL_TEST_WIDTH;
    clock_seconds = scripted_clock;
    frame({}, {0.0, 0.008, 0.016});  // 16 ms: the width stands for 20 ms
    profile_section("", 0xFF0000);
    profile_section("", 0);  // index 1 without a colour: dim blue
    int lh = text_line_height, slot = profile_slot;
    overlay_begin();
    profile_show(100, 200, 0, 1, 1);
    overlay_end();
    clock_seconds = clock_calibrate;
    EXPECT_EQ(profile_slot, (slot + 1) % PROFILE_FRAMES);

    double K = (GL_TEST_WIDTH - (100 + lh + 5 * lh)) / 0.02;
    int second = static_cast<int>(K * 0.008 + 100), end = static_cast<int>(K * 0.016 + 100);
    auto at = [](int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y); };
    const int y = 200 + lh + lh / 2;  // lower half of the bar, beside the texts
    const struct { int x, y; unsigned rgb; } seen[] = {
        {second - 40, y, 0xFF0000}, {second + 60, y, 0x000080}, {97, y, 0}, {end + 3, y, 0},
        {second - 40, 200 + 2 * lh + 2, 0}};
    for (const auto& s : seen) EXPECT_EQ(at(s.x, s.y), s.rgb) << s.x << ", " << s.y;
}

TEST_F(Trace, QuotesNamesWritesCountersAndLeavesWhatItCannotAppendTo) {
    trace_set_process_name("zibu_replay C:\\runs\\\"x\"\t.txt");
    const TraceCounter counters[] = {{"nodes alive", 2170}, {"leaves", 7}};
    ASSERT_TRUE(trace_append_previous("t.json", counters, 2));
    trace_set_process_name("zibu");
    const std::string t = read_file("t.json");
    EXPECT_NE(t.find("{\"name\":\"zibu_replay C:\\\\runs\\\\\\\"x\\\"?.txt\"}}"), std::string::npos) << t;
    EXPECT_NE(t.find(",\n{\"name\":\"leaves\",\"ph\":\"C\",\"pid\":1,\"tid\":1,\"ts\":"), std::string::npos);
    EXPECT_NE(t.find(",\"args\":{\"value\":2170}}"), std::string::npos) << t;
    EXPECT_TRUE(ends_as_array(t));
    // Not a trace's end (cut short by hand, or another file): nothing is written, and the file is
    // not read again while it is there (an empty trace put in the last one's place stays) ...
    int n = 0;
    for (const char* text : {"[\n{\"name\":\"frame\",\"ph\":\"X\"", "not json\n", "{}\n"}) {
        const std::string name = "cut" + std::to_string(n++) + ".json";
        std::ofstream(name, std::ios::binary) << text;
        EXPECT_FALSE(trace_append_previous(name.c_str(), nullptr, 0)) << text;
        EXPECT_EQ(read_file(name), text);
    }
    std::ofstream("cut2.json", std::ios::binary) << "[\n]\n";
    EXPECT_FALSE(trace_append_previous("cut2.json", nullptr, 0));
    EXPECT_EQ(read_file("cut2.json"), "[\n]\n");
    // ... until it goes: then a new trace starts. A folder is never written.
    fs::remove("cut2.json");
    EXPECT_TRUE(trace_append_previous("cut2.json", nullptr, 0));
    fs::create_directory("folder.json");
    EXPECT_TRUE(!trace_append_previous("folder.json", nullptr, 0) && fs::is_directory("folder.json"));
}

TEST_F(Trace, StopsAtTheSizeLimitWithALastEventThatSaysSo) {
    constexpr long LIMIT = 4096;
    int frames = 0;
    while (frames < 100 && trace_append_previous("full.json", nullptr, 0, LIMIT)) frames++;
    const std::string t = read_file("full.json");
    EXPECT_TRUE(frames > 2 && frames < 100) << frames;
    EXPECT_TRUE(t.size() <= static_cast<size_t>(LIMIT) && ends_as_array(t)) << t;
    EXPECT_NE(t.find("{\"ph\":\"i\",\"s\":\"g\",\"pid\":1,"), std::string::npos) << t;
    const std::string last = "\"name\":\"trace full\"}\n]\n";
    EXPECT_EQ(t.compare(t.size() - last.size(), last.size(), last), 0) << t;
    // Full for this process, and for one that comes to it afresh, whatever its limit.
    EXPECT_FALSE(trace_append_previous("full.json", nullptr, 0, LIMIT));
    fs::copy_file("full.json", "full_copy.json");
    EXPECT_FALSE(trace_append_previous("full_copy.json", nullptr, 0, 1 << 30));
    EXPECT_TRUE(read_file("full.json") == t && read_file("full_copy.json") == t);
}

// A disk that fills part way through a frame's write, made by a file size limit: the file is as
// before, still an array; a file the write made goes again.
TEST_F(Trace, TakesBackAWriteThatFailsPartWay) {
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    const std::string before = read_file("cut.json");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    using Room = std::pair<const char*, rlim_t>;
    for (const auto& [path, room] : {Room{"cut.json", before.size() + 40}, Room{"new.json", 0}}) {
        rlimit small = saved;
        small.rlim_cur = room;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = trace_append_previous(path, nullptr, 0);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(written) << path;
    }
    signal(SIGXFSZ, handler);
    EXPECT_TRUE(read_file("cut.json") == before && !fs::exists("new.json"));
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    EXPECT_TRUE(ends_as_array(read_file("cut.json")));
}

// Recording stand-ins for the tool's side. zibu_core is a static library: with all four defined
// here, its countmarks_sdl.o (valgrind's client requests) is not linked into the tests.
static bool tool_present = false;
static std::string calls;
bool count_tool_present() { return tool_present; }
void count_tool_start() { calls += "start "; }
void count_tool_dump(const char* name) { calls += std::string(name) + " "; }
void count_tool_stop() { calls += "stop "; }

TEST(CountMarks, WindowOpensAtFirstDumpsEachSectionAndClosesAfterCountFrames) {
    const std::string rest = std::string(" ") + COUNT_REST_OF_FRAME + " ";
    const struct { const char* request; bool present; std::string expected; } cases[] = {
        {"1 2", true, "start a b" + rest + "a b" + rest + "stop "},
        {"0 1", true, "start a b" + rest + "stop "}, {"3 5", true, "start a b "},
        {"0 1", false, ""}, {nullptr, true, ""}, {"x 1", true, ""}, {"1", true, ""},
        {"-1 2", true, ""}, {"0 0", true, ""}};
    for (const auto& c : cases) {
        c.request ? setenv("ZIBU_COUNT_FRAMES", c.request, 1) : unsetenv("ZIBU_COUNT_FRAMES");
        tool_present = c.present;
        calls.clear();
        count_marks_forget();
        for (int frame = 0; frame < 4; frame++)  // two sections; either end mark closes them
            for (const char* label : {"a", "b", frame % 2 ? "" : nullptr}) count_mark(label);
        EXPECT_EQ(calls, c.expected) << (c.request ? c.request : "unset") << " " << c.present;
    }
    unsetenv("ZIBU_COUNT_FRAMES");
    tool_present = false;
    count_marks_forget();
}
