#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/titlemenu.h"
#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

TEST(MenuFade, HeldFromZeroAtSixtyFramesNearsThreeQuartersInSixAndOneInFourteen) {
    float fade = 0.0f;
    for (int frame = 1; frame <= 14; frame++) {
        fade = menu_fade_next(fade, true, 1.0 / 60.0);
        if (frame == 6) {
            EXPECT_NEAR(fade, 0.7316f, 0.001f);
        }
        if (frame == 13) {
            EXPECT_LT(fade, 1.0f);
        }
    }
    EXPECT_EQ(fade, 1.0f);
    EXPECT_EQ(menu_fade_next(fade, true, 1.0 / 60.0), 1.0f);  // capped

    int frames = 0;
    while (fade > 0.0f && frames < 100) fade = menu_fade_next(fade, false, 1.0 / 60.0), frames++;
    EXPECT_EQ(fade, 0.0f);
    EXPECT_LT(frames, 20);
    EXPECT_EQ(menu_fade_next(fade, false, 1.0 / 60.0), 0.0f);  // floored
}

TEST(MenuGeometry, BandFollowsTheAspectAndIsCappedOnWideScreens) {
    struct Case {
        int w, h;
        float fade, m, th, a;
    } cases[] = {
        {800, 600, 1.0f, 0.2787879f, 167.27f, 0.2212121f},
        {800, 600, 0.5f, 0.2787879f, 167.27f, 0.1106061f},
        {1280, 720, 1.0f, 0.3717172f, 267.64f, 0.1282828f},
        {1280, 720, 0.0f, 0.3717172f, 267.64f, 0.0f},
        {2000, 800, 1.0f, 0.45f, 360.0f, 0.05f},  // 2.5 : 1
    };
    for (const Case& c : cases) {
        const MenuBand band = menu_band(c.w, c.h, c.fade);
        EXPECT_NEAR(band.m, c.m, 1e-6) << c.w << "x" << c.h;
        EXPECT_NEAR(band.th, c.th, 0.01) << c.w << "x" << c.h;
        EXPECT_NEAR(band.a, c.a, 1e-6) << c.w << "x" << c.h << " fade " << c.fade;
        EXPECT_NEAR(band.b, 1.0f - c.a, 1e-6);
    }
}

TEST(MenuGeometry, TextureIsTheNextPowerOfTwoWithTheUsedShareAndHalfATexel) {
    struct Case {
        int w, h, tex_w, tex_h;
    } cases[] = {{1280, 720, 2048, 1024}, {1024, 512, 1024, 512}, {1, 1, 1, 1}};
    for (const Case& c : cases) {
        const MenuTextureGeometry g = menu_texture_geometry(c.w, c.h);
        EXPECT_EQ(g.tex_w, c.tex_w);
        EXPECT_EQ(g.tex_h, c.tex_h);
        EXPECT_FLOAT_EQ(g.su, float(c.w) / c.tex_w);
        EXPECT_FLOAT_EQ(g.sv, float(c.h) / c.tex_h);
        EXPECT_FLOAT_EQ(g.du, 0.5f / c.tex_w);
        EXPECT_FLOAT_EQ(g.dv, 0.5f / c.tex_h);
    }
}

// The software driver keeps what it compiles for a shader program where the leak checker of
// sanitizer builds cannot see it, until the context goes; the game closes its context at exit
// (and nothing is reported), this test process never does. Allocations while the shader draws
// are therefore not checked for leaks.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));
struct DriverLeaksIgnored {
    DriverLeaksIgnored() {
        if (__lsan_disable) __lsan_disable();
    }
    ~DriverLeaksIgnored() {
        if (__lsan_enable) __lsan_enable();
    }
    DriverLeaksIgnored(const DriverLeaksIgnored&) = delete;
    DriverLeaksIgnored& operator=(const DriverLeaksIgnored&) = delete;
};

struct Rgb {
    int r, g, b;
};
Rgb pixel(int x, int y_from_top) {
    const unsigned c = gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y_from_top);
    return Rgb{int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)};
}
void expect_rgb(Rgb got, Rgb want, const char* where) {
    EXPECT_NEAR(got.r, want.r, 3) << where;
    EXPECT_NEAR(got.g, want.g, 3) << where;
    EXPECT_NEAR(got.b, want.b, 3) << where;
}

// The menu at full fade over a frame whose upper half is orange (204, 102, 51) and whose
// lower half is grey (204, 204, 204). Rows here count from the top.
class TitleMenu : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (!current_font) font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
        title_menu_forget();
        menu_shader_source = menu_shader_text;
    }
    void TearDown() override {
        title_menu_forget();
        menu_shader_source = menu_shader_text;
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
    void draw_menu() {
        glClearColor(0.8f, 0.4f, 0.2f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearColor(0.8f, 0.8f, 0.8f, 0.0f);
        clear_rect(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT / 2);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        title_menu_draw(1.0f);
    }
    // The band at full fade runs from row 98.4 to row 669.6; the texts stand in its left half.
    const int x = GL_TEST_WIDTH * 9 / 10;
    void expect_black_outside_the_band() {
        for (int y : {0, 95, 673, GL_TEST_HEIGHT - 1}) expect_rgb(pixel(x, y), {0, 0, 0}, "outside");
    }
    // Pixels of light text (every channel above 200) in the band's rows, left and right of
    // the middle.
    void count_light(int* left, int* right) {
        *left = *right = 0;
        for (int y = 100; y < 670; y += 2) {
            for (int x0 = 0; x0 < GL_TEST_WIDTH; x0 += 4) {
                const Rgb c = pixel(x0, y);
                if (c.r > 200 && c.g > 200 && c.b > 200) ++*(x0 < GL_TEST_WIDTH / 2 ? left : right);
            }
        }
    }
};

TEST_F(TitleMenu, ShaderTintsTheBandBlueGreyBetweenBlackRowsWithTheTextsOnTheLeft) {
    {
        DriverLeaksIgnored shader_code;
        draw_menu();
    }
    expect_black_outside_the_band();
    const Rgb orange = pixel(x, 200), grey = pixel(x, 600);
    // Luminance l of the texel becomes (0.7 l, 0.7 l, 0.3 + 0.7 l).
    expect_rgb(grey, {143, 143, 219}, "grey half");
    EXPECT_NEAR(orange.r, orange.g, 3);
    EXPECT_GT(orange.b, orange.r + 40);
    EXPECT_LT(orange.r, grey.r - 20);  // darker than the grey half: the halves kept their place
    int left = 0, right = 0;
    count_light(&left, &right);
    EXPECT_GT(left, 100);
    EXPECT_EQ(right, 0);
}

// Without the shader the band is darkened to 70 % and gets 30 % blue added.
void expect_blend_band(int x, const char* which) {
    expect_rgb(pixel(x, 200), {143, 71, 112}, which);
    expect_rgb(pixel(x, 600), {143, 143, 219}, which);
}

TEST_F(TitleMenu, WithoutTheShaderTheBandIsDarkenedAndBlueTinted) {
    menu_shader_source = nullptr;
    draw_menu();
    expect_black_outside_the_band();
    expect_blend_band(x, "blend path");
}

TEST_F(TitleMenu, ABrokenShaderIsLoggedAndTheMenuDrawsByBlending) {
    ScratchDir dir;
    menu_shader_source = "void main() { gl_FragColor = no_such_thing; }";
    draw_menu();
    expect_black_outside_the_band();
    expect_blend_band(x, "after a broken shader");

    std::ifstream in("graphics_error.log");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("fragment shader: "), std::string::npos) << all;
    EXPECT_NE(all.find("no_such_thing"), std::string::npos) << all;
    EXPECT_NE(all.find("shader program: "), std::string::npos) << all;
}

}  // namespace
