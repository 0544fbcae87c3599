#pragma once
// Immediate-mode drawing: flat 2D shapes in the current (normally overlay pixel) coordinates,
// cube vertices for a quads block the caller opens, and a sphere. Colours are 0xRRGGBB.
#include <cstdint>

void draw_point(double x, double y, uint32_t colour);
// Lighting is off for the segment and back on afterwards only if it was on.
void draw_line(double x1, double y1, double x2, double y2, uint32_t colour);
void fill_box(double x, double y, double w, double h, uint32_t colour);
void draw_box(double x, double y, double w, double h, uint32_t colour);
// 24 vertices with normals of the cube [x, x+size] x [y, y+size] x [z, z+size], inside a
// glBegin(GL_QUADS) block opened by the caller. Faces are not wound consistently.
void cube_quads(double x, double y, double z, double size);
// The same, each face with texture coordinates (0,0) (1,0) (1,1) (0,1).
void cube_quads_textured(double x, double y, double z, double size);
// The corners of those faces in the order they are emitted: per face four corners, per
// corner 0 for the low and 1 for the high coordinate of x, y and z.
extern const unsigned char cube_face_corners[6][4][3];
// A closed sphere of 2 n * n quads with normals: n bands pole to pole around the z axis.
void sphere(double cx, double cy, double cz, double radius, uint32_t colour, int n);
