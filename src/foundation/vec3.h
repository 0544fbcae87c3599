#pragma once
// 3-vectors: doubles for geometry, floats for lights, particles and colours.
// Everything is passed and returned by value; the in-place forms change their
// first argument and return the new value. Nothing guards against a zero
// length: the unit vector of (0, 0, 0) is not finite.

#include <cmath>

#include "foundation/util.h"

struct Vec3 {
    double x, y, z;
};

struct Vec3f {
    float x, y, z;
};

inline Vec3 vec3_make(double x, double y, double z) { return Vec3{x, y, z}; }
inline bool vec3_differs(Vec3 a, Vec3 b) { return a.x != b.x || a.y != b.y || a.z != b.z; }

// a += b
inline Vec3 vec3_add(Vec3* a, Vec3 b) {
    a->x += b.x;
    a->y += b.y;
    a->z += b.z;
    return *a;
}
inline Vec3 vec3_sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
// a -= b
inline Vec3 vec3_sub_in_place(Vec3* a, Vec3 b) {
    *a = vec3_sub(*a, b);
    return *a;
}
inline Vec3 vec3_neg(Vec3 a) { return Vec3{a.x * -1.0, a.y * -1.0, a.z * -1.0}; }
inline Vec3 vec3_scale(Vec3 a, double s) { return Vec3{a.x * s, a.y * s, a.z * s}; }
inline Vec3 vec3_scale(double s, Vec3 a) { return vec3_scale(a, s); }
inline Vec3 vec3_scale_in_place(Vec3* a, double s) {
    *a = vec3_scale(*a, s);
    return *a;
}
inline Vec3 vec3_div(Vec3 a, double s) { return Vec3{a.x / s, a.y / s, a.z / s}; }
inline double vec3_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double vec3_len2(Vec3 a) { return vec3_dot(a, a); }
inline double vec3_len(Vec3 a) { return std::sqrt(vec3_len2(a)); }
inline double vec3_dist2(Vec3 a, Vec3 b) { return sq(a.x - b.x) + sq(a.y - b.y) + sq(a.z - b.z); }
inline double vec3_dist(Vec3 a, Vec3 b) { return std::sqrt(vec3_dist2(a, b)); }
inline Vec3 vec3_unit(Vec3 a) { return vec3_scale(a, 1.0 / vec3_len(a)); }

inline void vec3f_set(Vec3f* v, float x, float y, float z) { *v = Vec3f{x, y, z}; }
inline Vec3f vec3f_add(Vec3f a, Vec3f b) { return Vec3f{a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3f vec3f_sub(Vec3f a, Vec3f b) { return Vec3f{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3f vec3f_neg(Vec3f a) { return Vec3f{a.x * -1.0f, a.y * -1.0f, a.z * -1.0f}; }
inline Vec3f vec3f_scale(Vec3f a, float s) { return Vec3f{a.x * s, a.y * s, a.z * s}; }
inline Vec3f vec3f_scale_in_place(Vec3f* a, float s) {
    *a = vec3f_scale(*a, s);
    return *a;
}
inline Vec3f vec3f_div(Vec3f a, float s) { return Vec3f{a.x / s, a.y / s, a.z / s}; }
inline Vec3f vec3f_cross(Vec3f a, Vec3f b) {
    return Vec3f{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float vec3f_len2(Vec3f a) { return a.x * a.x + a.y * a.y + a.z * a.z; }
inline float vec3f_len(Vec3f a) { return static_cast<float>(std::sqrt(static_cast<double>(vec3f_len2(a)))); }
inline float vec3f_dist(Vec3f a, Vec3f b) { return vec3f_len(vec3f_sub(a, b)); }
inline Vec3f vec3f_unit(Vec3f a) {
    float inverse = static_cast<float>(1.0 / std::sqrt(static_cast<double>(vec3f_len2(a))));
    return vec3f_scale(a, inverse);
}
