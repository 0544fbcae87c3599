#include "foundation/frame.h"

#include <GL/gl.h>

#include <cmath>
#include <limits>

#include "foundation/util.h"

namespace {

Vec3 column(const Mat4* m, int c) { return Vec3{m->m[4 * c], m->m[4 * c + 1], m->m[4 * c + 2]}; }

void set_column(Mat4* m, int c, Vec3 v) {
    m->m[4 * c] = v.x;
    m->m[4 * c + 1] = v.y;
    m->m[4 * c + 2] = v.z;
}

// Replaces axes a and b by (cos t*a + sin t*b, -sin t*a + cos t*b), with the portable sine and
// cosine: a turn must come out the same on every build, or replayed runs drift apart.
void turn_axes(Mat4* m, int a, int b, double angle) {
    double c = 1.0, s = 0.0;
    portable_sincos(angle, &s, &c);
    Vec3 u = column(m, a);
    Vec3 v = column(m, b);
    set_column(m, a, Vec3{c * u.x + s * v.x, c * u.y + s * v.y, c * u.z + s * v.z});
    set_column(m, b, Vec3{-s * u.x + c * v.x, -s * u.y + c * v.y, -s * u.z + c * v.z});
}

Vec3 row(const Mat4* m, int r) { return Vec3{m->m[r], m->m[r + 4], m->m[r + 8]}; }

void set_row(Mat4* m, int r, Vec3 v) {
    m->m[r] = v.x;
    m->m[r + 4] = v.y;
    m->m[r + 8] = v.z;
}

Vec3 minus_two(Vec3 a, double s, Vec3 b, double t, Vec3 c) {
    return Vec3{a.x - s * b.x - t * c.x, a.y - s * b.y - t * c.y, a.z - s * b.z - t * c.z};
}

}  // namespace

Mat4 mat4_identity() {
    Mat4 r{};
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0;
    return r;
}

Frame* frame_shared_identity() {
    static Frame identity{mat4_identity(), mat4_identity()};
    return &identity;
}

void frame_point_to_world(const Mat4* m, Vec3* p) {
    *p = frame_point_to_world(m, p->x, p->y, p->z);
}

Vec3 frame_point_to_world(const Mat4* m, double x, double y, double z) {
    const double* a = m->m;
    return Vec3{x * a[0] + y * a[4] + z * a[8] + a[12], x * a[1] + y * a[5] + z * a[9] + a[13],
                x * a[2] + y * a[6] + z * a[10] + a[14]};
}

void frame_vector_to_world(const Mat4* m, Vec3* v) {
    const double* a = m->m;
    *v = Vec3{v->x * a[0] + v->y * a[4] + v->z * a[8], v->x * a[1] + v->y * a[5] + v->z * a[9],
              v->x * a[2] + v->y * a[6] + v->z * a[10]};
}

void frame_point_to_local(const Mat4* m, Vec3* p) {
    *p = frame_point_to_local(m, p->x, p->y, p->z);
}

Vec3 frame_point_to_local(const Mat4* m, double x, double y, double z) {
    Vec3 d{x - m->m[12], y - m->m[13], z - m->m[14]};
    return Vec3{vec3_dot(d, column(m, 0)), vec3_dot(d, column(m, 1)), vec3_dot(d, column(m, 2))};
}

void frame_translate(Mat4* m, double dx, double dy, double dz) {
    m->m[12] += dx;
    m->m[13] += dy;
    m->m[14] += dz;
}

void frame_move_local(Mat4* m, double dx, double dy, double dz) {
    Vec3 step{dx, dy, dz};
    frame_vector_to_world(m, &step);
    frame_translate(m, step.x, step.y, step.z);
}

void frame_rotate_x(Mat4* m, double angle) { turn_axes(m, 1, 2, angle); }
void frame_rotate_y(Mat4* m, double angle) { turn_axes(m, 2, 0, angle); }
void frame_rotate_z(Mat4* m, double angle) { turn_axes(m, 0, 1, angle); }

void frame_orthonormalize(Mat4* m) {
    Vec3 r0 = row(m, 0);
    Vec3 r1 = row(m, 1);
    Vec3 r2 = row(m, 2);
    // Each row is corrected from the old values of the others at once, so no
    // axis is favoured.
    double d01 = 0.5 * vec3_dot(r0, r1);
    double d02 = 0.5 * vec3_dot(r0, r2);
    double d12 = 0.5 * vec3_dot(r1, r2);
    Vec3 n0 = minus_two(r0, d01, r1, d02, r2);
    Vec3 n1 = minus_two(r1, d01, r0, d12, r2);
    Vec3 n2 = minus_two(r2, d02, r0, d12, r1);
    set_row(m, 0, vec3_div(n0, vec3_len(n0)));
    set_row(m, 1, vec3_div(n1, vec3_len(n1)));
    set_row(m, 2, vec3_div(n2, vec3_len(n2)));
}

void frame_apply_gl(const Mat4* m) { glMultMatrixd(m->m); }

void bound_add_sphere(BoundSphere* s, Vec3 c, double r) {
    double d = vec3_dist(s->centre, c);
    // Extent of both spheres along the line from s's centre towards c.
    double lo = min_d(-s->radius, d - r);
    double hi = max_d(s->radius, d + r);
    if (std::isnan(d + s->radius + r)) {
        double nan = std::numeric_limits<double>::quiet_NaN();
        *s = BoundSphere{{nan, nan, nan}, nan};
        return;
    }
    s->radius = 0.5 * (hi - lo);
    if (d > 0.0) {
        Vec3 offset = vec3_sub(c, s->centre);
        vec3_add(&s->centre, vec3_scale(offset, 0.5 * (hi + lo) / d));
    }
}
