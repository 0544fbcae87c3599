#include <string>
#include <vector>

#include "app/titlemenu.h"
#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

TEST(MenuFade, HeldFromZeroAtSixtyFramesNearsThreeQuartersInSixAndOneInFourteen) {
    float fades[15] = {0.0f};
    for (int f = 1; f <= 14; f++) fades[f] = menu_fade_next(fades[f - 1], true, 1.0 / 60.0);
    EXPECT_NEAR(fades[6], 0.7316f, 0.001f);
    EXPECT_LT(fades[13], 1.0f);
    float fade = fades[14];
    EXPECT_EQ(fade, 1.0f);
    EXPECT_EQ(menu_fade_next(fade, true, 1.0 / 60.0), 1.0f);  // capped
    int frames = 0;
    while (fade > 0.0f && frames < 100) fade = menu_fade_next(fade, false, 1.0 / 60.0), frames++;
    EXPECT_EQ(fade, 0.0f);
    EXPECT_LT(frames, 20);
    EXPECT_EQ(menu_fade_next(fade, false, 1.0 / 60.0), 0.0f);  // floored
}

TEST(MenuGeometry, BandFollowsTheAspectAndIsCappedOnWideScreens) {
    const struct { int w, h; float fade, m, th, a; } cases[] = {
        {800, 600, 1.0f, 0.2787879f, 167.27f, 0.2212121f},
        {800, 600, 0.5f, 0.2787879f, 167.27f, 0.1106061f},
        {1280, 720, 1.0f, 0.3717172f, 267.64f, 0.1282828f},
        {1280, 720, 0.0f, 0.3717172f, 267.64f, 0.0f},
        {2000, 800, 1.0f, 0.45f, 360.0f, 0.05f},  // 2.5 : 1
    };
    for (const auto& c : cases) {
        const MenuBand band = menu_band(c.w, c.h, c.fade);
        EXPECT_NEAR(band.m, c.m, 1e-6) << c.w << "x" << c.h;
        EXPECT_NEAR(band.th, c.th, 0.01) << c.w << "x" << c.h;
        EXPECT_NEAR(band.a, c.a, 1e-6) << c.w << "x" << c.h << " fade " << c.fade;
        EXPECT_NEAR(band.b, 1.0f - c.a, 1e-6);
    }
}

// The software driver keeps what it compiles for a shader where the sanitizers' leak checker
// cannot see it until the context goes, which the game does at exit and this process never.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));
struct DriverLeaksIgnored {
    explicit DriverLeaksIgnored(bool shader) : on(shader && __lsan_disable) {
        on ? __lsan_disable() : void();
    }
    ~DriverLeaksIgnored() { on ? __lsan_enable() : void(); }
    bool on;
};

struct Rgb { int r, g, b; };
void expect_rgb(Rgb got, Rgb want, const char* where) {
    EXPECT_NEAR(got.r, want.r, 3) << where;
    EXPECT_NEAR(got.g, want.g, 3) << where;
    EXPECT_NEAR(got.b, want.b, 3) << where;
}

// The menu at full fade over a frame whose upper half is orange (204, 102, 51) and whose lower
// half is grey (204, 204, 204). At full fade the band runs from row 98.4 to row 669.6 (rows
// from the top); the texts stand in its left half (a scripted run looks at them).
class TitleMenu : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (!current_font) font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    }
    void TearDown() override {
        title_menu_forget();
        menu_shader_source = menu_shader_text;
    }
    void draw_menu() {
        glClearColor(0.8f, 0.4f, 0.2f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearColor(0.8f, 0.8f, 0.8f, 0.0f);
        clear_rect(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT / 2);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        title_menu_draw(1.0f);
        frame = gl_test_pixels(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    }
    Rgb pixel(int x, int y_from_top) const {
        const int row = GL_TEST_HEIGHT - 1 - y_from_top;
        const unsigned char* c = &frame[3 * (row * GL_TEST_WIDTH + x)];
        return Rgb{c[0], c[1], c[2]};
    }
    const int right = GL_TEST_WIDTH * 9 / 10;  // a column right of the texts
    std::vector<unsigned char> frame;
};

// The shader takes a texel's luminance l to (0.7 l, 0.7 l, 0.3 + 0.7 l). Without it the band is
// darkened to 70 % and gets 30 % blue added; a shader that does not build leaves its logs in
// "graphics_error.log". Either way the rows above and below the band are black.
TEST_F(TitleMenu, BandIsTintedBlueGreyBetweenBlackRowsWithOrWithoutAWorkingShader) {
    const char* broken = "void main() { gl_FragColor = no_such_thing; }";
    for (const char* source : {menu_shader_text, static_cast<const char*>(nullptr), broken}) {
        const char* which = source == broken ? "broken shader" : source ? "shader" : "none";
        ScratchDir dir;
        title_menu_forget();
        menu_shader_source = source;
        {
            DriverLeaksIgnored shader_code(source == menu_shader_text);
            draw_menu();
        }
        for (int y : {0, 95, 673, GL_TEST_HEIGHT - 1})
            expect_rgb(pixel(right, y), {0, 0, 0}, which);
        const Rgb orange = pixel(right, 200), grey = pixel(right, 600);
        expect_rgb(grey, {143, 143, 219}, which);
        if (source == menu_shader_text) {
            EXPECT_NEAR(orange.r, orange.g, 3);
            EXPECT_GT(orange.b, orange.r + 40);
            EXPECT_LT(orange.r, grey.r - 20);  // darker than the grey half: the halves in place
        } else {
            expect_rgb(orange, {143, 71, 112}, which);
        }
        const std::string log = read_file("graphics_error.log");
        for (const char* part : {"fragment shader: ", "no_such_thing", "shader program: "})
            EXPECT_EQ(log.find(part) != std::string::npos, source == broken)
                << which << ": " << log;
    }
}

}  // namespace
