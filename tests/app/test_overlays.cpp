#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/overlays.h"
#include "app/titlemenu.h"
#include "platform/font_fixture.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "scene/lights.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

void no_plot_op(VNode*) {}
const ThingType leaf_type = {"Leaf", sizeof(VNode), nullptr, no_plot_op, nullptr, nullptr};

class Overlays : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        reset_fonts();
        font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
        profile_section(nullptr, 0);
        clear_keys();
    }
    void TearDown() override {
        profile_section(nullptr, 0);
        glClearColor(0, 0, 0, 0);
        glDisable(GL_LIGHTING);
        clear_keys();
        tree_stats = 0;
        frame_time = 0;
        free_fonts();
    }
    // Pixel (x, y) counted from the top-left, as the overlay places things.
    static unsigned at(int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y); }

    // One frame with the diagnostics on: its sections, then the overlay.
    static void frame_with_diagnostics(int sections, double raw) {
        static const char* labels[] = {"one", "two", "three", "four", "five"};
        for (int i = 0; i < sections; i++) profile_section(labels[i], 0);
        diagnostics_overlay(raw);
    }
};

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
class TitleMenu : public Overlays {
protected:
    void TearDown() override {
        title_menu_forget();
        menu_shader_source = menu_shader_text;
        Overlays::TearDown();
    }
    void draw_menu() {
        glClearColor(0.8f, 0.4f, 0.2f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearColor(0.8f, 0.8f, 0.8f, 0.0f);
        clear_rect(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT / 2);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        title_menu_draw(1.0f);
    }
    static Rgb pixel(int x, int y_from_top) {
        const unsigned c = at(x, y_from_top);
        return Rgb{int(c >> 16), int(c >> 8 & 0xff), int(c & 0xff)};
    }
    const int right = GL_TEST_WIDTH * 9 / 10;  // a column right of the texts
};

}  // namespace

TEST_F(Overlays, TreeDiagramOverALitSceneKeepsItsColours) {
    VNode* world = World_create(0, 0, 0, nullptr);
    VNode_create(&leaf_type, world);
    // A white background, so that black fills show; the scene leaves lighting on.
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_LIGHTING);
    key_state[KEY_CONTROL] = key_state['T'] = 0x80;
    const std::string before = gl_test_state();
    tree_diagram_overlay(world);
    VNode_destroy(world);
    ASSERT_EQ(tree_stats, 1) << "Ctrl+T turns it on";
    EXPECT_EQ(gl_test_state(), before) << "lighting and the rest are left as they were";

    // The world's blue square, and below it its leaf's black one in a grey outline (where leaves
    // stand is judged by the diagram's geometry test).
    const int cx = 5 * GL_TEST_WIDTH / 8, y = GL_TEST_HEIGHT / 10;
    EXPECT_EQ(at(cx, 1), 0x0000FFu);
    int black = 0, grey = 0;
    for (int dy = -1; dy <= 5; dy++)
        for (int dx = -3; dx <= 3; dx++) {
            const bool fill = dx >= -1 && dx <= 1 && dy >= 1 && dy <= 3;
            (fill ? black : grey) += at(cx + dx, y + dy) == (fill ? 0u : 0x808080u);
        }
    // Lines along pixel edges fall on either side: the outline may cover a side of the fill.
    EXPECT_EQ(at(cx, y + 2), 0u) << "black in the middle";
    EXPECT_GE(black, 6) << "a black 3 x 3 fill";
    EXPECT_GE(grey, 12) << "a grey outline around it";
}

TEST_F(Overlays, TimesLogGetsOneLinePerFrameWithTheRawTimeAndTheFramesSections) {
    ScratchDir dir;
    frame_time = FRAME_TIME_MAX;  // the simulation clamped these frames
    const int sections[] = {3, 1, 5, 2};
    for (int k = 0; k < 4; k++) frame_with_diagnostics(sections[k], 0.25 * (k + 1));
    std::istringstream log(read_file(times_log_name));
    int k = 0;
    for (std::string line; k < 4 && std::getline(log, line); k++) {
        std::istringstream cells(line);
        std::vector<double> fields;
        for (std::string f; std::getline(cells, f, '\t');) fields.push_back(std::stod(f));
        ASSERT_EQ(fields.size(), 1u + sections[k]) << "line " << k;
        EXPECT_EQ(fields[0], 0.25 * (k + 1)) << "the raw frame time, unclamped";
        for (double f : fields) EXPECT_GE(f, 0.0);
    }
    EXPECT_TRUE(k == 4 && log.peek() == EOF) << k << " lines";
}

// The light tree is rebuilt at every plot, not added to: the same 7442 leaves each time.
using SceneLights = Overlays;
TEST_F(SceneLights, LightTreeModeBuildsAllSevenThousandLights) {
    light_show = 0;
    lights_start();
    light_tree_on();
    for (int plot = 0; plot < 2; plot++) {
        set_scene_lights();
        uint32_t leaves = 0;
        for (uint32_t i = 0; i < light_tree.entries.count; i++)
            leaves += DynArray_at<LightEntry>(&light_tree.entries, i).left == -1;
        EXPECT_EQ(leaves, 7442u);
    }
    light_tree_off();
    lights_off();
}

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
