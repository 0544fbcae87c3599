#include <gtest/gtest.h>

#include "app/main_loop.h"
#include "platform/opengl.h"
#include "platform/window.h"
#include "scene/lights.h"
#include "support/game_state.h"
#include "support/gl_context.h"

using SceneLights = GlTest;

// The light tree is rebuilt at every plot, not added to: the same 7442 leaves each time.
TEST_F(SceneLights, LightTreeModeBuildsAllSevenThousandLights) {
    clear_keys();
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
    glDisable(GL_LIGHTING);
}
