#include "things/shapes.h"

#include <cmath>
#include <cstring>

#include "foundation/memory.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"

int32_t shape_count = 0;

namespace {

constexpr double two_pi = 6.283185307179586476925286766559;

std::size_t record_size(int32_t kind) {
    switch (kind) {
        case SHAPE_GROUP: return sizeof(Shape);
        case SHAPE_TRANSFORM: return sizeof(ShapeTransform);
        case SHAPE_TRIANGLE: return sizeof(ShapeTriangle);
        case SHAPE_QUADRILATERAL: return sizeof(ShapeQuadrilateral);
        case SHAPE_CIRCULAR: return sizeof(ShapeCircular);
        case SHAPE_INDEX: return sizeof(ShapeIndex);
        default: fatal("shape_create: unknown kind of shape");
    }
}

Shape** items(const DynArray* a) { return DynArray_items<Shape*>(a); }

// Latest index of s in the array, or -1.
int32_t find_last(const DynArray* a, const Shape* s) {
    for (uint32_t i = a->count; i-- > 0;) {
        if (items(a)[i] == s) return int32_t(i);
    }
    return -1;
}

// Ordered removal of the latest entry for child; an Index loses (and releases)
// the value kept beside it.
void drop_child(Shape* parent, const Shape* child) {
    const int32_t i = find_last(&parent->children, child);
    if (i < 0) return;
    DynArray_remove_ordered(&parent->children, uint32_t(i));
    if (parent->kind == SHAPE_INDEX) {
        DynArray* values = &static_cast<ShapeIndex*>(parent)->values;
        checked_free(DynArray_at<void*>(values, uint32_t(i)));
        DynArray_remove_ordered(values, uint32_t(i));
    }
}

// Unordered removal of the latest entry for parent.
void drop_parent(Shape* child, const Shape* parent) {
    const int32_t i = find_last(&child->parents, parent);
    if (i >= 0) DynArray_remove(&child->parents, uint32_t(i));
}

struct Rgba {
    float r, g, b, a;
};

Rgba unpack(uint32_t c) {
    return Rgba{float((c & 0xFF) / 255.0), float(((c >> 8) & 0xFF) / 255.0),
                float(((c >> 16) & 0xFF) / 255.0), float(((c >> 24) & 0xFF) / 255.0)};
}

Rgba mix(Rgba x, Rgba y, float f) {
    const float g = 1.0f - f;
    return Rgba{g * x.r + f * y.r, g * x.g + f * y.g, g * x.b + f * y.b, g * x.a + f * y.a};
}

void colour(Rgba c, float alpha) { glColor4f(c.r, c.g, c.b, alpha); }
void colour(Rgba c) { colour(c, c.a); }

void colour_bytes(uint32_t c, bool clear) {
    glColor4ub(GLubyte(c), GLubyte(c >> 8), GLubyte(c >> 16), clear ? 0 : GLubyte(c >> 24));
}

void draw_children(Shape* s, int soft_edges) {
    for (uint32_t i = 0; i < s->children.count; i++) shape_draw(items(&s->children)[i], soft_edges);
}

void draw_polygon(const ShapeVertex* v, const uint32_t* colours, int m, GLenum mode) {
    glBegin(mode);
    for (int i = 0; i < m; i++) {
        colour_bytes(colours[i], false);
        glVertex2f(v[i].x, v[i].y);
    }
    glEnd();
}

// One-pixel fringe on the outside of every edge, fading to transparent.
void polygon_fringe(const ShapeVertex* v, const uint32_t* colours, int m, float p) {
    const ShapeVertex a = v[0], b = v[1], z = v[m - 1];
    // Clockwise vertices put the outward normal on the other side.
    if ((b.y - a.y) * (z.x - a.x) > (b.x - a.x) * (z.y - a.y)) p = -p;
    glBegin(GL_QUADS);
    for (int i = 0; i < m; i++) {
        const int j = (i + 1) % m;
        const float ox = v[j].y - v[i].y, oy = v[i].x - v[j].x;
        const float length = std::sqrt(ox * ox + oy * oy);
        if (length == 0.0f) continue;  // a repeated vertex has no edge to soften
        const float k = p / length;
        colour_bytes(colours[i], false);
        glVertex2f(v[i].x, v[i].y);
        colour_bytes(colours[j], false);
        glVertex2f(v[j].x, v[j].y);
        colour_bytes(colours[j], true);
        glVertex2f(v[j].x + ox * k, v[j].y + oy * k);
        colour_bytes(colours[i], true);
        glVertex2f(v[i].x + ox * k, v[i].y + oy * k);
    }
    glEnd();
}

void band_vertex(const ShapeCircular* s, float radius, double angle) {
    glVertex2f(float(s->cx + radius * std::sin(angle)), float(s->cy + radius * std::cos(angle)));
}

// A strip along the band between radii r0 and r1: the colours (start to end)
// at r0, and the same colours at r1 with alpha a1 (negative: their own alpha).
void band_strip(const ShapeCircular* s, int32_t n, float r0, float r1, Rgba c_start, Rgba c_end,
                float a1) {
    const double span = double(s->end) - s->start;
    glBegin(GL_QUAD_STRIP);
    for (int32_t i = 0; i <= n; i++) {
        const float f = float(i) / float(n);
        const double angle = s->start + span * i / n;
        const Rgba c = mix(c_start, c_end, f);
        colour(c);
        band_vertex(s, r0, angle);
        colour(c, a1 < 0.0f ? c.a : a1);
        band_vertex(s, r1, angle);
    }
    glEnd();
}

void draw_circular(const ShapeCircular* s, int soft_edges) {
    const float p = float(units_per_pixel());
    const int32_t n = circular_segments(s->end - s->start, s->outer, p);
    const Rgba in_start = unpack(s->inner_start), in_end = unpack(s->inner_end);
    const Rgba out_start = unpack(s->outer_start), out_end = unpack(s->outer_end);

    // Body: inner colours at the inner radius, outer colours at the outer one.
    const double span = double(s->end) - s->start;
    glBegin(GL_QUAD_STRIP);
    for (int32_t i = 0; i <= n; i++) {
        const float f = float(i) / float(n);
        const double angle = s->start + span * i / n;
        colour(mix(in_start, in_end, f));
        band_vertex(s, s->inner, angle);
        colour(mix(out_start, out_end, f));
        band_vertex(s, s->outer, angle);
    }
    glEnd();
    if (!soft_edges) return;

    band_strip(s, n, s->outer, s->outer + p, out_start, out_end, 0.0f);
    if (s->inner > 0.0f) band_strip(s, n, s->inner, s->inner - p, in_start, in_end, 0.0f);

    if (double(s->end) < double(s->start) + two_pi) {
        // Caps step one pixel back along the band at the start and on at the end.
        const double cs = std::cos(s->start), ss = std::sin(s->start);
        const double ce = std::cos(s->end), se = std::sin(s->end);
        const float os[2] = {float(-cs * p), float(ss * p)};
        const float oe[2] = {float(ce * p), float(-se * p)};
        const float in_s[2] = {float(s->cx + s->inner * ss), float(s->cy + s->inner * cs)};
        const float out_s[2] = {float(s->cx + s->outer * ss), float(s->cy + s->outer * cs)};
        const float in_e[2] = {float(s->cx + s->inner * se), float(s->cy + s->inner * ce)};
        const float out_e[2] = {float(s->cx + s->outer * se), float(s->cy + s->outer * ce)};
        glBegin(GL_QUADS);
        colour(in_start);
        glVertex2f(in_s[0], in_s[1]);
        colour(out_start);
        glVertex2f(out_s[0], out_s[1]);
        colour(out_start, 0.0f);
        glVertex2f(out_s[0] + os[0], out_s[1] + os[1]);
        colour(in_start, 0.0f);
        glVertex2f(in_s[0] + os[0], in_s[1] + os[1]);

        colour(in_end);
        glVertex2f(in_e[0], in_e[1]);
        colour(out_end);
        glVertex2f(out_e[0], out_e[1]);
        colour(out_end, 0.0f);
        glVertex2f(out_e[0] + oe[0], out_e[1] + oe[1]);
        colour(in_end, 0.0f);
        glVertex2f(in_e[0] + oe[0], in_e[1] + oe[1]);
        glEnd();
    }
}

}  // namespace

Shape* shape_create(int32_t kind, Shape* parent) {
    Shape* s = static_cast<Shape*>(checked_calloc(1, record_size(kind)));
    s->kind = kind;
    DynArray_init_of<Shape*>(&s->children);
    DynArray_init_of<Shape*>(&s->parents);
    if (kind == SHAPE_TRANSFORM) {
        float* m = static_cast<ShapeTransform*>(s)->matrix;
        for (int i = 0; i < 16; i++) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    } else if (kind == SHAPE_INDEX) {
        ShapeIndex* index = static_cast<ShapeIndex*>(s);
        DynArray_init_of<void*>(&index->values);
        index->a = 3.0f;
        index->b = 0.0f;
    }
    if (parent) shape_link(s, parent);
    shape_count++;
    return s;
}

void shape_link(Shape* child, Shape* parent) {
    DynArray_push_value(&parent->children, child);
    if (parent->kind == SHAPE_INDEX) {
        void* none = nullptr;
        DynArray_push_value(&static_cast<ShapeIndex*>(parent)->values, none);
    }
    DynArray_push_value(&child->parents, parent);
}

void shape_unlink(Shape* child, Shape* parent) {
    drop_child(parent, child);
    drop_parent(child, parent);
}

void shape_free(Shape* shape) {
    for (uint32_t i = shape->parents.count; i-- > 0;) drop_child(items(&shape->parents)[i], shape);
    for (uint32_t i = shape->children.count; i-- > 0;) {
        Shape* c = items(&shape->children)[i];
        drop_parent(c, shape);
        if (c->parents.count == 0) shape_free(c);
    }
    if (shape->kind == SHAPE_INDEX) {
        DynArray* values = &static_cast<ShapeIndex*>(shape)->values;
        for (uint32_t i = values->count; i-- > 0;) checked_free(DynArray_at<void*>(values, i));
        DynArray_free(*values);
    }
    DynArray_free(shape->children);
    DynArray_free(shape->parents);
    checked_free(shape);
    shape_count--;
}

void shape_release(Shape* shape, Shape* parent) {
    if (parent) shape_unlink(shape, parent);
    if (shape->parents.count == 0) shape_free(shape);
}

int32_t circular_segments(float span, float outer, float p) {
    const double n = 5.0 * (double(span) / two_pi) * std::sqrt(double(outer) / p);
    // Also catches a NaN; the cap only keeps absurd radii from overflowing.
    if (!(n >= 1.0)) return 1;
    return n < 1048576.0 ? int32_t(n) : 1048576;
}

void shape_draw(Shape* shape, int soft_edges) {
    switch (shape->kind) {
        case SHAPE_GROUP: draw_children(shape, soft_edges); break;
        case SHAPE_TRANSFORM:
            // Only the first child is drawn; a Transform without one draws nothing.
            if (shape->children.count == 0) break;
            glPushMatrix();
            glMultMatrixf(static_cast<ShapeTransform*>(shape)->matrix);
            shape_draw(items(&shape->children)[0], soft_edges);
            glPopMatrix();
            break;
        case SHAPE_TRIANGLE: {
            const ShapeTriangle* t = static_cast<ShapeTriangle*>(shape);
            draw_polygon(t->vertex, t->colour, 3, GL_TRIANGLES);
            if (soft_edges) polygon_fringe(t->vertex, t->colour, 3, float(units_per_pixel()));
            break;
        }
        case SHAPE_QUADRILATERAL: {
            const ShapeQuadrilateral* q = static_cast<ShapeQuadrilateral*>(shape);
            draw_polygon(q->vertex, q->colour, 4, GL_QUADS);
            if (soft_edges) polygon_fringe(q->vertex, q->colour, 4, float(units_per_pixel()));
            break;
        }
        case SHAPE_CIRCULAR: draw_circular(static_cast<ShapeCircular*>(shape), soft_edges); break;
        default: break;  // an Index draws nothing
    }
}

uint32_t colour_modulate(uint32_t a, uint32_t b) {
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
        result |= ((x * y) >> 8) << shift;
    }
    return result;
}
