#include "foundation/camera.h"

#include <GL/gl.h>

#include <cmath>

Camera g_camera = {mat4_identity(), {0.0, 0.0, 0.0}, 1.0, 1.0, std::sqrt(2.0), std::sqrt(2.0)};

Mat4 camera_rigid_inverse(const Mat4* frame) {
    const double* f = frame->m;
    Vec3 x{f[0], f[1], f[2]};
    Vec3 y{f[4], f[5], f[6]};
    Vec3 z{f[8], f[9], f[10]};
    Vec3 t{f[12], f[13], f[14]};
    Mat4 v = mat4_identity();
    v.m[0] = x.x, v.m[4] = x.y, v.m[8] = x.z;
    v.m[1] = y.x, v.m[5] = y.y, v.m[9] = y.z;
    v.m[2] = z.x, v.m[6] = z.y, v.m[10] = z.z;
    v.m[12] = -vec3_dot(x, t);
    v.m[13] = -vec3_dot(y, t);
    v.m[14] = -vec3_dot(z, t);
    return v;
}

Vec3 camera_eye_from_view(const Mat4* view) {
    const double* v = view->m;
    return Vec3{-(v[0] * v[12] + v[1] * v[13] + v[2] * v[14]),
                -(v[4] * v[12] + v[5] * v[13] + v[6] * v[14]),
                -(v[8] * v[12] + v[9] * v[13] + v[10] * v[14])};
}

void camera_set_fov(Camera* c, double tan_half_x, double tan_half_y) {
    c->tan_half_x = tan_half_x;
    c->tan_half_y = tan_half_y;
    c->cull_kx = std::sqrt(tan_half_x * tan_half_x + 1.0) / tan_half_x;
    c->cull_ky = std::sqrt(tan_half_y * tan_half_y + 1.0) / tan_half_y;
}

void camera_set_from_matrices(Camera* c, const Mat4* view, const Mat4* projection) {
    c->view = *view;
    c->eye = camera_eye_from_view(view);
    camera_set_fov(c, 1.0 / projection->m[0], 1.0 / projection->m[5]);
}

void camera_from_frame(const Mat4* frame) {
    Mat4 view = camera_rigid_inverse(frame);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(view.m);
    camera_read_back();
}

void camera_read_back() {
    // Start from identities so that a failed read leaves them in place.
    Mat4 view = mat4_identity();
    Mat4 projection = mat4_identity();
    glGetDoublev(GL_MODELVIEW_MATRIX, view.m);
    glGetDoublev(GL_PROJECTION_MATRIX, projection.m);
    camera_set_from_matrices(&g_camera, &view, &projection);
}
