#include "scene/envviews.h"

#include "foundation/camera.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/window.h"
#include "scene/plot.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int ENV_CUBE_SIZE = 512;
constexpr int ENV_SPHERE_DIVISIONS = 40;

// The viewer's frame turned to look along cube face 0..5 (ahead, left, right, down, up,
// behind): the plain plot looks along the frame's -z.
Mat4 face_turn(const Mat4& viewer, int face) {
    Mat4 m = viewer;
    switch (face) {
        case 1: frame_rotate_y(&m, PI / 2); break;
        case 2: frame_rotate_y(&m, -PI / 2); break;
        case 3: frame_rotate_x(&m, -PI / 2); break;
        case 4: frame_rotate_x(&m, PI / 2); break;
        case 5: frame_rotate_y(&m, PI); break;
        default: break;
    }
    return m;
}

// A camera at (x, y, z) looking along +x, -x, +y, -y, +z, -z for faces 0..5, turned about
// its line of sight as the cube-map faces are laid out.
Mat4 cube_face_turn(double x, double y, double z, int face) {
    Mat4 m = mat4_identity();
    frame_translate(&m, x, y, z);
    switch (face) {
        case 0: frame_rotate_y(&m, -PI / 2), frame_rotate_z(&m, PI); break;
        case 1: frame_rotate_y(&m, PI / 2), frame_rotate_z(&m, PI); break;
        case 2: frame_rotate_x(&m, PI / 2); break;
        case 3: frame_rotate_x(&m, -PI / 2); break;
        case 4: frame_rotate_y(&m, PI), frame_rotate_z(&m, PI); break;
        default: frame_rotate_z(&m, PI); break;
    }
    return m;
}

const GLenum cube_targets[6] = {
    GL_TEXTURE_CUBE_MAP_POSITIVE_X, GL_TEXTURE_CUBE_MAP_NEGATIVE_X,
    GL_TEXTURE_CUBE_MAP_POSITIVE_Y, GL_TEXTURE_CUBE_MAP_NEGATIVE_Y,
    GL_TEXTURE_CUBE_MAP_POSITIVE_Z, GL_TEXTURE_CUBE_MAP_NEGATIVE_Z,
};

// A view's plot moves the model-view matrix and the camera record to its own camera; the
// views drawn after it (the sphere, the bound markers) need the viewer's again. Expects the
// model-view stack to be the selected one.
struct ViewKeeper {
    Camera camera = g_camera;
    ViewKeeper() { glPushMatrix(); }
    ~ViewKeeper() {
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        g_camera = camera;
    }
    ViewKeeper(const ViewKeeper&) = delete;
    ViewKeeper& operator=(const ViewKeeper&) = delete;
};

}  // namespace

void square_projection_push() {
    GLdouble p[16];
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    p[0] = 1.0;
    p[5] = 1.0;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadMatrixd(p);
    glMatrixMode(GL_MODELVIEW);
}

void square_projection_pop() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void face_view(VNode* world, VNode* viewer, int x, int y, int w, int h, int face) {
    ViewKeeper keep;
    glPushAttrib(GL_VIEWPORT_BIT);
    glViewport(x, y, w, h);
    clear_rect(x, y, w, h);
    square_projection_push();
    const Mat4 turned = face_turn(viewer->frame->current, face);
    camera_from_frame(&turned);
    VNode_plot(world);
    square_projection_pop();
    glPopAttrib();
}

uint32_t env_cube_capture(VNode* world, double x, double y, double z, int size, uint32_t texture) {
    const bool fresh = texture == 0;
    GLuint name = texture;
    if (fresh) glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_CUBE_MAP, name);
    if (fresh) {
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    square_projection_push();
    {
        ViewKeeper keep;
        glPushAttrib(GL_VIEWPORT_BIT);
        glViewport(0, 0, size, size);
        for (int face = 0; face < 6; face++) {
            clear_rect(0, 0, size, size);
            const Mat4 turned = cube_face_turn(x, y, z, face);
            camera_from_frame(&turned);
            VNode_plot(world);
            if (fresh) {
                glCopyTexImage2D(cube_targets[face], 0, GL_RGB, 0, 0, size, size, 0);
            } else {
                glCopyTexSubImage2D(cube_targets[face], 0, 0, 0, 0, 0, size, size);
            }
        }
        clear_rect(0, 0, size, size);
        glPopAttrib();
    }
    square_projection_pop();
    return name;
}

uint32_t env_cube_map(VNode* world, double x, double y, double z) {
    static uint32_t kept = 0;
    if (kept == 0) kept = env_cube_capture(world, x, y, z, ENV_CUBE_SIZE, 0);
    return kept;
}

void env_sphere(float cx, float cy, float cz, float radius, uint32_t texture) {
    // Generated coordinates are eye-space directions: the transposed rotation of the view
    // turns them back into world directions, the cube map's own.
    const double* v = g_camera.view.m;
    const GLdouble to_world[16] = {v[0], v[4], v[8], 0.0, v[1], v[5], v[9], 0.0,
                                   v[2], v[6], v[10], 0.0, 0.0, 0.0, 0.0, 1.0};
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixd(to_world);
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_LIGHTING);

    glEnable(GL_TEXTURE_CUBE_MAP);
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture);
    const GLint mode =
        key_held(KEY_CONTROL) && key_held('N') ? GL_NORMAL_MAP : GL_REFLECTION_MAP;
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, mode);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, mode);
    glTexGeni(GL_R, GL_TEXTURE_GEN_MODE, mode);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    glEnable(GL_TEXTURE_GEN_R);

    sphere(cx, cy, cz, radius, 0xFFFFFF, ENV_SPHERE_DIVISIONS);

    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_GEN_R);
    glDisable(GL_TEXTURE_CUBE_MAP);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_LIGHTING);
}
