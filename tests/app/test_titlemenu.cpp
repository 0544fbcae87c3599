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

struct Rgb {
    int r, g, b;
};
void expect_rgb(Rgb got, Rgb want, const char* where) {
    EXPECT_NEAR(got.r, want.r, 3) << where;
    EXPECT_NEAR(got.g, want.g, 3) << where;
    EXPECT_NEAR(got.b, want.b, 3) << where;
}

// The menu at full fade over a frame whose upper half is orange (204, 102, 51) and whose lower
// half is grey (204, 204, 204); the band runs from row 98.4 to row 669.6 from the top.
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
    }
    static Rgb pixel(int x, int y_from_top) {
        const unsigned c = gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y_from_top);
        return Rgb{int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)};
    }
    const int right = GL_TEST_WIDTH * 9 / 10;  // a column right of the texts
};

}  // namespace

// A shader that does not build leaves its logs in "graphics_error.log" and the band is still
// drawn, as without shaders: darkened to 70 % with 30 % blue added, black rows around it.
TEST_F(TitleMenu, WithABrokenShaderTheBandIsDarkenedAndBlueTintedAndTheLogsKept) {
    ScratchDir dir;
    title_menu_forget();
    menu_shader_source = "void main() { gl_FragColor = no_such_thing; }";
    draw_menu();
    for (int y : {0, 95, 673, GL_TEST_HEIGHT - 1}) expect_rgb(pixel(right, y), {0, 0, 0}, "outside");
    expect_rgb(pixel(right, 200), {143, 71, 112}, "orange half");
    expect_rgb(pixel(right, 600), {143, 143, 219}, "grey half");
    std::ifstream in("graphics_error.log");
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    for (const char* part : {"fragment shader: ", "no_such_thing", "shader program: "}) {
        EXPECT_NE(log.find(part), std::string::npos) << log;
    }
}
