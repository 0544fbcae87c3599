#pragma once
// 4x4 reference frames and bounding spheres.
//
// Mat4 is column-major exactly as glLoadMatrixd reads it: entry 4c + r is row
// r, column c. In a reference frame the columns are the frame's x axis (0-2),
// y axis (4-6) and z axis (8-10) in parent coordinates and its origin (12-14);
// entries 3, 7, 11 are 0 and 15 is 1. The axes stay orthonormal, so every
// inverse here is a transpose.

#include "foundation/vec3.h"

struct Mat4 {
    double m[16];
};

// The pose used for everything (current) and the pose at the start of the
// cycle (previous), in one allocation.
struct Frame {
    Mat4 current;
    Mat4 previous;
};

// A sphere in its node's local coordinates. All zero is the empty sphere.
struct BoundSphere {
    Vec3 centre;
    double radius;
};

Mat4 mat4_identity();

// One process-wide frame whose matrices are both the identity; nodes without
// a parent borrow it. Never freed.
Frame* frame_shared_identity();

// Local point to parent coordinates: x*X + y*Y + z*Z + T.
void frame_point_to_world(const Mat4* m, Vec3* p);
Vec3 frame_point_to_world(const Mat4* m, double x, double y, double z);
// Local direction to parent coordinates (no translation).
void frame_vector_to_world(const Mat4* m, Vec3* v);
// Parent point to local coordinates: d = p - T, then (d.X, d.Y, d.Z).
void frame_point_to_local(const Mat4* m, Vec3* p);
Vec3 frame_point_to_local(const Mat4* m, double x, double y, double z);

// Origin += (dx, dy, dz) in parent coordinates.
void frame_translate(Mat4* m, double dx, double dy, double dz);
// Origin += dx*X + dy*Y + dz*Z: a move along the frame's own axes.
void frame_move_local(Mat4* m, double dx, double dy, double dz);
// Turns about the frame's own x, y or z axis by angle radians.
void frame_rotate_x(Mat4* m, double angle);
void frame_rotate_y(Mat4* m, double angle);
void frame_rotate_z(Mat4* m, double angle);
// Restores orthonormal axes after many incremental turns, favouring none.
void frame_orthonormalize(Mat4* m);
// Multiplies the matrix onto the current OpenGL matrix.
void frame_apply_gl(const Mat4* m);

inline BoundSphere bound_empty() { return BoundSphere{{0.0, 0.0, 0.0}, 0.0}; }
// Grows s to the smallest sphere enclosing both s and the sphere (c, r).
// A NaN anywhere in the inputs makes all four values of s NaN.
void bound_add_sphere(BoundSphere* s, Vec3 c, double r);
