#include "scene/plot.h"

#include <cmath>

#include "foundation/camera.h"
#include "foundation/util.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/window.h"
#include "scene/lights.h"
#include "scene/work.h"

uint32_t parsed_nodes = 0;
uint32_t leaf_nodes = 0;
uint32_t max_node_depth = 0;
uint32_t things_plotted = 0;
uint32_t transparents_plotted = 0;
PassWork pass_work = {};
uint32_t plot_depth = 0;
Frame* loaded_frame = nullptr;
void (*pre_plot_hook)() = nullptr;

void VNode_reset_counters() {
    parsed_nodes = 0;
    leaf_nodes = 0;
    max_node_depth = 0;
    things_plotted = 0;
    transparents_plotted = 0;
    plot_depth = 0;
    pass_work = PassWork{};
}

namespace {

// A transparent thing waiting to be drawn, keyed by its distance in front
// of the eye. Things at the same distance (a rock's smoke and explosion start
// at its centre) keep the order in which they were met, whatever the C
// runtime's qsort does with equal keys.
struct TransparentEntry {
    VNode* node;
    float key;
    uint32_t met;
};

Vec3 to_eye(Vec3 world) {
    const double* v = g_camera.view.m;
    return Vec3{v[0] * world.x + v[4] * world.y + v[8] * world.z + v[12],
                v[1] * world.x + v[5] * world.y + v[9] * world.z + v[13],
                v[2] * world.x + v[6] * world.y + v[10] * world.z + v[14]};
}

// Makes the node's frame the one on top of the camera's matrix.
void load_frame(Frame* frame) {
    if (loaded_frame) glPopMatrix();
    glPushMatrix();
    frame_apply_gl(&frame->current);
    loaded_frame = frame;
}

void visit(VNode* node, DynArray* transparents) {
    parsed_nodes++;
    if (plot_depth > max_node_depth) max_node_depth = plot_depth;
    if (!(parsed_nodes < PLOT_MAX_VISITS && plot_depth < PLOT_MAX_DEPTH)) return;
    if (VNode_cull(node)) return;

    uint32_t children = VNode_child_count(node);
    if (children) {
        plot_depth++;
        for (uint32_t i = children; i-- > 0;) visit(VNode_child(node, i), transparents);
        plot_depth--;
    } else {
        leaf_nodes++;
    }

    if ((node->flags & VN_PLOT_IF_LEAF) && children) return;
    if (!node->type->plot) return;
    if (node->flags & VN_TRANSPARENT) {
        DynArray_push_value(transparents, TransparentEntry{node, 0.0f, transparents->count});
        return;
    }
    if (light_tree_mode) {
        // Lights are placed through the camera's own matrix, so choose them
        // with no frame of a thing on top of it.
        if (loaded_frame) glPopMatrix();
        loaded_frame = nullptr;
        Vec3 c = node->world_centre;
        lights_choose(static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z));
        load_frame(node->frame);
    } else if (loaded_frame != node->frame) {
        load_frame(node->frame);
    }
    node->type->plot(node);
    things_plotted++;
}

int compare_keys(const void* a, const void* b) {
    const auto* ea = static_cast<const TransparentEntry*>(a);
    const auto* eb = static_cast<const TransparentEntry*>(b);
    if (ea->key != eb->key) return ea->key > eb->key ? 1 : -1;
    return ea->met > eb->met ? 1 : (ea->met < eb->met ? -1 : 0);
}

void draw_transparents(DynArray* list) {
    if (list->count == 0) return;
    TransparentEntry* entries = DynArray_items<TransparentEntry>(list);
    for (uint32_t k = 0; k < list->count; k++) {
        const VNode* node = entries[k].node;
        Vec3 c = node->bound.centre;
        frame_point_to_world(&node->frame->current, &c);
        entries[k].key = static_cast<float>(-to_eye(c).z);
    }
    DynArray_sort(list, compare_keys);
    entries = DynArray_items<TransparentEntry>(list);
    for (uint32_t k = list->count; k-- > 0;) {
        VNode* node = entries[k].node;
        if (node->frame != loaded_frame) load_frame(node->frame);
        node->type->plot(node);
        transparents_plotted++;
    }
}

// The border of the narrowed culling pyramid, one unit in front of the eye.
void draw_cull_border(double tx, double ty) {
    glColor3f(0.0f, 1.0f, 0.0f);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glBegin(GL_LINE_LOOP);
    glVertex3d(-tx, -ty, -1.0);
    glVertex3d(tx, -ty, -1.0);
    glVertex3d(tx, ty, -1.0);
    glVertex3d(-tx, ty, -1.0);
    glEnd();
    glEnable(GL_LIGHTING);
    glPopMatrix();
}

}  // namespace

bool VNode_cull(const VNode* node) {
    Vec3 e = to_eye(node->world_centre);
    double r = node->bound.radius;
    if (std::fabs(e.x) > (r * g_camera.cull_kx - e.z) * g_camera.tan_half_x) return true;
    if (std::fabs(e.y) > (r * g_camera.cull_ky - e.z) * g_camera.tan_half_y) return true;
    return e.z > r;
}

void VNode_plot(VNode* root) {
    if (pre_plot_hook) pre_plot_hook();
    loaded_frame = nullptr;
    DynArray transparents;
    DynArray_init_of<TransparentEntry>(&transparents);
    visit(root, &transparents);
    draw_transparents(&transparents);
    if (loaded_frame) glPopMatrix();
    loaded_frame = nullptr;
    DynArray_free(transparents);
}

void VNode_plot_from(VNode* root, VNode* viewer) {
    camera_from_frame(&viewer->frame->current);
    if (key_held(KEY_NARROW_CULL)) {
        camera_set_fov(&g_camera, g_camera.tan_half_x * 0.5, g_camera.tan_half_y * 0.5);
        draw_cull_border(g_camera.tan_half_x, g_camera.tan_half_y);
    }
    VNode_plot(root);
}

namespace {

// One texture per eye, sized to the powers of two above the screen.
struct StereoTextures {
    GLuint name[2];
    int width;
    int height;
    bool made;
};
StereoTextures stereo;

// Made on the first stereo plot, and again whenever the screen has outgrown
// them or shrunk to other powers of two: a copy larger than its texture would
// be refused and leave the eye's picture stale.
void stereo_textures_ready() {
    int w = static_cast<int>(next_pow2(static_cast<uint32_t>(screen_width)));
    int h = static_cast<int>(next_pow2(static_cast<uint32_t>(screen_height)));
    if (stereo.made && stereo.width == w && stereo.height == h) return;
    if (!stereo.made) glGenTextures(2, stereo.name);
    for (GLuint name : stereo.name) {
        glBindTexture(GL_TEXTURE_2D, name);
        glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 0, 0, w, h, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    stereo.width = w;
    stereo.height = h;
    stereo.made = true;
}

// Adds both eyes' pictures over the screen: eye 0 red, eye 1 cyan.
void compose_stereo() {
    double u = static_cast<double>(screen_width) / stereo.width;
    double v = static_cast<double>(screen_height) / stereo.height;
    double w = screen_width;
    double h = screen_height;
    overlay_begin();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    for (int i = 0; i < 2; i++) {
        glBindTexture(GL_TEXTURE_2D, stereo.name[i]);
        glColor3f(static_cast<float>(1 - i), static_cast<float>(i), static_cast<float>(i));
        // Overlay y grows downwards; the texture's row 0 is the screen's bottom.
        glBegin(GL_QUADS);
        glTexCoord2d(0.0, 0.0);
        glVertex2d(0.0, h);
        glTexCoord2d(u, 0.0);
        glVertex2d(w, h);
        glTexCoord2d(u, v);
        glVertex2d(w, 0.0);
        glTexCoord2d(0.0, v);
        glVertex2d(0.0, 0.0);
        glEnd();
    }
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    overlay_end();
}

}  // namespace

void VNode_plot_stereo(VNode* root, VNode* viewer, double eye_separation, double screen_scale) {
    stereo_textures_ready();
    double k = eye_separation / (screen_scale * screen_width);
    Mat4 projection;
    glGetDoublev(GL_PROJECTION_MATRIX, projection.m);
    for (int i = 0; i < 2; i++) {
        double side = i - 0.5;
        Mat4 sheared = projection;
        sheared.m[8] -= 2.0 * side * k;
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixd(sheared.m);
        Mat4 eye = viewer->frame->current;
        frame_move_local(&eye, side * eye_separation, 0.0, 0.0);
        camera_from_frame(&eye);
        VNode_plot(root);
        glBindTexture(GL_TEXTURE_2D, stereo.name[i]);
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, screen_width, screen_height);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.m);
    glMatrixMode(GL_MODELVIEW);
    compose_stereo();
}
