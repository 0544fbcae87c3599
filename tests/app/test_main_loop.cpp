#include <gtest/gtest.h>

#include <cstring>

#include "app/main_loop.h"
#include "platform/opengl.h"
#include "platform/window.h"
#include "scene/lights.h"
#include "support/gl_context.h"

namespace {

class SceneLights : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        std::memset(key_state, 0, sizeof key_state);
        std::memset(key_state_before, 0, sizeof key_state_before);
        light_show = 0;
        lights_start();
    }
    void TearDown() override {
        if (light_tree_mode) light_tree_off();
        lights_off();
        glDisable(GL_LIGHTING);
        std::memset(key_state, 0, sizeof key_state);
        light_show = 0;
    }
    static Vec3f light0_position(float* w) {
        float p[4] = {};
        glGetLightfv(GL_LIGHT0, GL_POSITION, p);
        *w = p[3];
        return Vec3f{p[0], p[1], p[2]};
    }
};

}  // namespace

TEST_F(SceneLights, CtrlFTogglesTheLightShowAtEveryPlot) {
    key_state[KEY_CONTROL] = key_state['F'] = 0x80;
    set_scene_lights();
    EXPECT_EQ(light_show, 1);
    float w = -1;
    const Vec3f p = light0_position(&w);
    EXPECT_EQ(w, 1.0f);
    EXPECT_FLOAT_EQ(p.x, 20.0f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0 + (max_lights < 8 ? max_lights : 8) - 1));
    // A second plot in the same frame (stereo) toggles it back.
    set_scene_lights();
    EXPECT_EQ(light_show, 0);
}

TEST_F(SceneLights, LightTreeModeBuildsAllSevenThousandLights) {
    light_tree_on();
    for (int plot = 0; plot < 2; plot++) {  // rebuilt, not added to, at every plot
        set_scene_lights();
        uint32_t leaves = 0;
        for (uint32_t i = 0; i < light_tree.entries.count; i++) {
            leaves += DynArray_at<LightEntry>(&light_tree.entries, i).left == -1;
        }
        EXPECT_EQ(leaves, 7442u);
    }
}
