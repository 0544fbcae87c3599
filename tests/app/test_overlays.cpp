#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/overlays.h"
#include "platform/font_fixture.h"
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
