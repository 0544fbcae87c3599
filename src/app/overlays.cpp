#include "app/overlays.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/titlemenu.h"
#include "foundation/camera.h"
#include "platform/font.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/envviews.h"
#include "scene/lights.h"
#include "scene/plot.h"
#include "scene/treediag.h"
#include "scene/work.h"

unsigned char tree_stats = 0;
const char* const times_log_name = "times.log";

namespace {

constexpr uint32_t FRAME_TIME_COLOUR = 0xffffff;
constexpr uint32_t VIEWER_COLOUR = 0x8080c0;
constexpr uint32_t BOUNDS_COLOUR = 0x8080c0;

constexpr int KEY_FACES = 'J';
constexpr int KEY_SPHERE = 'N';
constexpr int KEY_BOUNDS = 'B';
constexpr int KEY_MENU = 'T';

// Where the mirrored sphere stands, and its cube map is seen from.
constexpr double SPHERE_X = 20.0, SPHERE_Y = 20.0, SPHERE_Z = 50.0;
constexpr float SPHERE_RADIUS = 5.0f;

// The cube-face views as a cross of q x q squares: the column and row (from the bottom-left)
// of faces 0 to 5, ahead in the middle and behind at the right end.
constexpr int cross_cells[6][2] = {{1, 1}, {0, 1}, {2, 1}, {1, 0}, {1, 2}, {3, 1}};

void cube_face_cross(VNode* world, VNode* viewer) {
    const int q = screen_height / 4;
    for (int face = 0; face < 6; face++) {
        face_view(world, viewer, cross_cells[face][0] * q, cross_cells[face][1] * q, q, q, face);
    }
}

// Screened over the scene (added, light parts lightening), leaving the depth buffer alone.
void mirrored_sphere(VNode* world) {
    const uint32_t texture = env_cube_map(world, SPHERE_X, SPHERE_Y, SPHERE_Z);
    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    env_sphere(SPHERE_X, SPHERE_Y, SPHERE_Z, SPHERE_RADIUS, texture);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
}

// The world's marker, then each child's from the last to the first, each child followed at
// once by its own children's when asked.
void bounding_spheres(const VNode* world, bool grandchildren) {
    VNode_draw_bounds(world);
    for (uint32_t i = VNode_child_count(world); i-- > 0;) {
        const VNode* child = VNode_child(world, i);
        VNode_draw_bounds(child);
        if (!grandchildren) continue;
        for (uint32_t j = VNode_child_count(child); j-- > 0;) {
            VNode_draw_bounds(VNode_child(child, j));
        }
    }
    const BoundSphere& b = world->bound;
    char text[200];
    std::snprintf(text, sizeof text, "world->bounds=(%lg,%lg,%lg;%lg)", b.centre.x, b.centre.y,
                  b.centre.z, b.radius);
    text_draw(0, 10 * text_line_height, 0, text, BOUNDS_COLOUR);
}

void title_menu_view(float* menu_fade) {
    if (light_tree_mode) {
        if (key_held(KEY_MENU)) light_tree_draw(0);
    } else {
        *menu_fade = menu_fade_next(*menu_fade, key_held(KEY_MENU), frame_time);
    }
    if (*menu_fade > 0.0f) title_menu_draw(*menu_fade);
}

// The raw frame time, a tab, and the durations of the frame the profiler has just shown. The
// file is opened and closed for every line, so that it is complete on disk at any moment. A line
// that does not fit (a full disk) is taken back: the file holds whole lines only.
void times_log_append(double raw_frame_time) {
    std::FILE* log = std::fopen(times_log_name, "at");
    if (!log) return;
    std::fseek(log, 0, SEEK_END);
    const long before = std::ftell(log);
    std::fprintf(log, "%lg\t", raw_frame_time);
    profile_write_previous(log);
    bool written = std::fflush(log) == 0 && !std::ferror(log);
    written = std::fclose(log) == 0 && written;
    if (!written && before >= 0) {
        std::error_code ignored;
        std::filesystem::resize_file(times_log_name, static_cast<std::uintmax_t>(before), ignored);
    }
}

// The frame's sections beside the tree's counters of the frame, in "trace.json".
void trace_append() {
    const TraceCounter counters[] = {
        {"nodes visited", parsed_nodes},   {"nodes alive", total_nodes},
        {"leaves", leaf_nodes},            {"deepest level", max_node_depth},
        {"things plotted", things_plotted}, {"transparent things plotted", transparents_plotted},
        {"sphere tests", pass_work.sphere_tests}, {"octree cells touched", pass_work.cells_touched},
        {"candidate pairs", pass_work.candidate_pairs}, {"lights scored", pass_work.lights_scored},
    };
    trace_append_previous(trace_name, counters, sizeof counters / sizeof counters[0]);
}

}  // namespace

void live_plot_views(VNode* world, VNode* viewer, float* menu_fade) {
    if (key_held(KEY_FACES)) cube_face_cross(world, viewer);
    if (key_held(KEY_SPHERE)) mirrored_sphere(world);
    if (key_held(KEY_BOUNDS)) bounding_spheres(world, key_held(KEY_SHIFT));
    title_menu_view(menu_fade);
}

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
    trace_append();

    const Vec3& eye = g_camera.eye;
    std::snprintf(text, sizeof text, "t = %lg\no.[xyz] = [%lg %lg %lg]\nmaxlights = %d", sim_time,
                  eye.x, eye.y, eye.z, static_cast<int>(max_lights));
    text_draw(0, 9 * text_line_height, 0, text, VIEWER_COLOUR);
}
