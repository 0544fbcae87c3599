#include "app/overlays.h"

#include <cstdio>

#include "foundation/camera.h"
#include "platform/font.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/lights.h"
#include "scene/treediag.h"

unsigned char tree_stats = 0;
const char* const times_log_name = "times.log";

namespace {

constexpr uint32_t FRAME_TIME_COLOUR = 0xffffff;
constexpr uint32_t VIEWER_COLOUR = 0x8080c0;

// The raw frame time, a tab, and the durations of the frame the profiler has just shown. The
// file is opened and closed for every line, so that it is complete on disk at any moment.
void times_log_append(double raw_frame_time) {
    std::FILE* log = std::fopen(times_log_name, "at");
    if (!log) return;
    std::fprintf(log, "%lg\t", raw_frame_time);
    profile_write_previous(log);
    std::fclose(log);
}

}  // namespace

void tree_diagram_overlay(const VNode* world) {
    if (ctrl_pressed('T')) tree_stats ^= 1;
    if (!tree_stats) return;
    overlay_begin();
    // The diagram's colours are meant as given: neither the scene's lights nor a texture or
    // blending it left on may change them.
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    VNode_tree_diagram(world, screen_width / 4, screen_width, 0, screen_height);
    glPopAttrib();
    overlay_end();
}

void diagnostics_overlay(double raw_frame_time) {
    font_select("normal");
    VNode_stats_text();

    overlay_begin();
    glDisable(GL_LIGHTING);
    profile_show(screen_width / 3, 3 * text_line_height / 2, 0, 1, 1);
    overlay_end();
    glEnable(GL_LIGHTING);

    char text[160];
    std::snprintf(text, sizeof text, "frametime = %lg", raw_frame_time);
    text_draw(0, 0, 0, text, FRAME_TIME_COLOUR);
    times_log_append(raw_frame_time);

    const Vec3& eye = g_camera.eye;
    std::snprintf(text, sizeof text, "t = %lg\no.[xyz] = [%lg %lg %lg]\nmaxlights = %d", sim_time,
                  eye.x, eye.y, eye.z, static_cast<int>(max_lights));
    text_draw(0, 9 * text_line_height, 0, text, VIEWER_COLOUR);
}
