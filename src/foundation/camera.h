#pragma once
// The camera record that every plot sets and that culling, the transparent
// sort, billboards and streaks read.

#include "foundation/frame.h"

struct Camera {
    Mat4 view;          // model-view as OpenGL holds it: world -> eye coordinates
    Vec3 eye;           // camera position in world coordinates
    double tan_half_x;  // tangent of the horizontal half field of view
    double tan_half_y;  // tangent of the vertical half field of view
    double cull_kx;     // 1 / sin of the horizontal half angle
    double cull_ky;     // 1 / sin of the vertical half angle
};

// The one process-wide camera record.
extern Camera g_camera;

// Pure arithmetic, usable without OpenGL.

// The view matrix of a camera placed at the frame: rows 0-2 are the frame's
// axes, translation (-X.T, -Y.T, -Z.T).
Mat4 camera_rigid_inverse(const Mat4* frame);
// Camera position of a rigid view matrix: -R^T T.
Vec3 camera_eye_from_view(const Mat4* view);
// Sets both half-angle tangents and recomputes the cull factors from them.
void camera_set_fov(Camera* c, double tan_half_x, double tan_half_y);
// Fills every field from a model-view and a projection matrix.
void camera_set_from_matrices(Camera* c, const Mat4* view, const Mat4* projection);

// OpenGL side.

// Loads the rigid inverse of the viewer's frame as the model-view matrix and
// refreshes g_camera from OpenGL.
void camera_from_frame(const Mat4* frame);
// Refreshes g_camera from OpenGL's current model-view and projection matrices.
void camera_read_back();
