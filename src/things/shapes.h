#pragma once
// Flat coloured vector shapes drawn with OpenGL: groups, transforms, triangles,
// quadrilaterals and circular bands (rings, discs, arcs and sectors), with
// optional one-pixel soft edges built from alpha fringes.
//
// Shapes form a graph: a shape may sit in several groups at once and is freed
// when the last group lets go of it (or when its owner releases it while it
// has no group).
//
// Packed colours: the four bytes red, green, blue, alpha from the lowest up,
// so 0xAABBGGRR as a number (shape_rgba builds one).

#include <cstdint>

#include "foundation/dynarray.h"

enum ShapeKind : int32_t {
    SHAPE_GROUP = 0,
    SHAPE_TRANSFORM = 1,
    SHAPE_TRIANGLE = 2,
    SHAPE_QUADRILATERAL = 3,
    SHAPE_CIRCULAR = 4,
    SHAPE_INDEX = 5,
};

struct Shape {
    int32_t kind;
    DynArray children;  // of Shape*, in drawing order
    DynArray parents;   // of Shape*: every group that holds this shape
};

// Draws its first child only, through matrix (column-major, as glMultMatrixf
// takes it; identity at creation).
struct ShapeTransform : Shape {
    float matrix[16];
};

struct ShapeVertex {
    float x, y;
};

struct ShapeTriangle : Shape {
    ShapeVertex vertex[3];
    uint32_t colour[3];  // one per vertex
};

struct ShapeQuadrilateral : Shape {
    ShapeVertex vertex[4];
    uint32_t colour[4];
};

// The band between two radii from start to end angle. Angle t names the point
// centre + radius * (sin t, cos t): 0 is straight up (+y), growing clockwise.
struct ShapeCircular : Shape {
    float cx, cy;
    float inner, outer;
    float start, end;  // radians, start <= end
    uint32_t inner_start, inner_end, outer_start, outer_end;  // corner colours
};

// Draws nothing. Keeps one owned pointer per child (null when linked; released
// with checked_free when the entry goes or the Index is freed).
struct ShapeIndex : Shape {
    DynArray values;  // of void*, parallel to children
    float a, b;       // 3.0 and 0.0 at creation; nothing reads them
};

// Number of live shapes.
extern int32_t shape_count;

// A new shape of the kind, linked under parent when parent is not null.
// Vertex, colour and circular fields start unset.
Shape* shape_create(int32_t kind, Shape* parent);
void shape_link(Shape* child, Shape* parent);
// Undoes one link (the latest).
void shape_unlink(Shape* child, Shape* parent);
// Unlinks the shape from all its groups and frees it, together with every child
// left without a group.
void shape_free(Shape* shape);
// Unlinks from parent (when not null), then frees the shape if no group holds it.
void shape_release(Shape* shape, Shape* parent);

// Draws the shape and its subtree into the current OpenGL state, with one-pixel
// alpha fringes when soft_edges is non-zero. Sets no blending, lighting or depth
// state: for soft edges the caller enables blending (SRC_ALPHA,
// ONE_MINUS_SRC_ALPHA).
void shape_draw(Shape* shape, int soft_edges);

// Segments of a circular band spanning `span` radians with outer radius `outer`,
// p units to the pixel: 5 sqrt(outer radius in pixels) for a full turn, at least 1.
int32_t circular_segments(float span, float outer, float p);

// Channel-wise product of two packed colours, each channel (x * y) >> 8.
uint32_t colour_modulate(uint32_t a, uint32_t b);

inline uint32_t shape_rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(a) << 24;
}
