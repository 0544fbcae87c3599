#include "scene/treediag.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/font.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/text.h"
#include "scene/plot.h"

namespace {

constexpr uint32_t NODES_COLOUR = 0x80FF80;
constexpr uint32_t PLOTTED_COLOUR = 0xFFC080;
constexpr uint32_t LINE_GREY = 0x808080;
constexpr uint32_t PARENT_BLUE = 0x0000FF;
constexpr uint32_t LEAF_BLACK = 0x000000;

constexpr int RING_STEPS = 32;
constexpr double RING_HALF_WIDTH = 0.1;

void emit(DiagramSink sink, void* user, DiagramShapeKind kind, double x, double y, double x2,
          double y2, uint32_t colour) {
    sink(user, DiagramShape{kind, x, y, x2, y2, colour});
}

void emit_point(DiagramSink sink, void* user, double x, double y, uint32_t colour) {
    emit(sink, user, DiagramShapeKind::point, x, y, 0.0, 0.0, colour);
}

// A small diamond: a cross in the node's colour inside a ring of the lighter one.
void emit_diamond(DiagramSink sink, void* user, double cx, double cy, uint32_t c, uint32_t c2) {
    static const int inner[][2] = {{0, 1}, {-1, 2}, {0, 2}, {1, 2}, {0, 3}};
    static const int outer[][2] = {{0, 0}, {-1, 1}, {1, 1}, {-2, 2}, {2, 2}, {-1, 3}, {1, 3}, {0, 4}};
    for (const auto& p : inner) emit_point(sink, user, cx + p[0], cy + p[1], c);
    for (const auto& p : outer) emit_point(sink, user, cx + p[0], cy + p[1], c2);
}

void draw_shape(void*, const DiagramShape& s) {
    switch (s.kind) {
        case DiagramShapeKind::point: draw_point(s.x, s.y, s.colour); break;
        case DiagramShapeKind::line: draw_line(s.x, s.y, s.x2, s.y2, s.colour); break;
        case DiagramShapeKind::fill_box: fill_box(s.x, s.y, s.x2, s.y2, s.colour); break;
        case DiagramShapeKind::draw_box: draw_box(s.x, s.y, s.x2, s.y2, s.colour); break;
    }
}

// One ring around an axis, as a quad strip: `across` places a vertex at position t along the
// axis and angle theta round it.
template <class Place>
void ring(Place across, double a, double b) {
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= RING_STEPS; i++) {
        const double t0 = 2.0 * std::numbers::pi * i / RING_STEPS;
        const double t1 = 2.0 * std::numbers::pi * (i + 1) / RING_STEPS;
        across(a, t0);
        across(b, t0);
        across(a, t1);
        across(b, t1);
    }
    glEnd();
}

void compile_bound_marker() {
    for (int k = 0; k <= 1; k++) {
        const float s = 0.5f + 0.5f * k;
        const double a = (k - 1) * RING_HALF_WIDTH, b = k * RING_HALF_WIDTH;
        glColor3f(s, 0.0f, 0.0f);
        ring([](double t, double th) { glVertex3d(t, std::cos(th), std::sin(th)); }, a, b);
        glColor3f(0.0f, s, 0.0f);
        ring([](double t, double th) { glVertex3d(std::cos(th), t, std::sin(th)); }, a, b);
        glColor3f(0.0f, 0.0f, s);
        ring([](double t, double th) { glVertex3d(std::cos(th), std::sin(th), t); }, a, b);
    }
}

}  // namespace

void VNode_stats_format(StatsText* out) {
    std::snprintf(out->nodes, sizeof out->nodes,
                  "parsed_nodes = %u (total_nodes = %u)\nleaf_nodes = %u\nmax_node_depth = %u",
                  parsed_nodes, total_nodes, leaf_nodes, max_node_depth);
    std::snprintf(out->plotted, sizeof out->plotted,
                  "things_plotted = %u\ntransparents_plotted = %u", things_plotted,
                  transparents_plotted);
}

void VNode_stats_text() {
    StatsText text;
    VNode_stats_format(&text);
    const int h = text_line_height;
    text_draw(0, 2 * h, 0, text.nodes, NODES_COLOUR);
    text_draw(0, 6 * h, 0, text.plotted, PLOTTED_COLOUR);
}

void VNode_tree_diagram_shapes(const VNode* node, double x0, double x1, double y, double dy,
                               DiagramSink sink, void* user) {
    const uint32_t n = VNode_child_count(node);
    const double cx = std::trunc((x0 + x1) / 2.0);
    const double cy = std::trunc(y);
    const double below = 0.9 * y + 0.1 * dy;
    // Child i owns the range from edge(i) to edge(i + 1).
    auto edge = [&](uint32_t i) { return x0 + (x1 - x0) * i / n; };
    for (uint32_t i = n; i-- > 0;) {
        const double middle = (edge(i) + edge(i + 1)) / 2.0;
        emit(sink, user, DiagramShapeKind::line, cx, cy + 2, middle, below, LINE_GREY);
    }

    const uint32_t c = n > 0 ? PARENT_BLUE : LEAF_BLACK;
    const uint32_t c2 = c | LINE_GREY;
    if (node->flags & VN_TRANSPARENT) {
        emit_diamond(sink, user, cx, cy, c, c2);
    } else {
        emit(sink, user, DiagramShapeKind::fill_box, cx - 1, cy + 1, 3, 3, c);
        emit(sink, user, DiagramShapeKind::draw_box, cx - 2, cy, 4, 4, c2);
    }
    if (node->flags & VN_PLOT_IF_LEAF) emit_point(sink, user, cx, cy + 2, c2);

    for (uint32_t i = n; i-- > 0;) {
        VNode_tree_diagram_shapes(VNode_child(node, i), edge(i), edge(i + 1), below, dy, sink,
                                  user);
    }
}

void VNode_tree_diagram(const VNode* node, double x0, double x1, double y, double dy) {
    VNode_tree_diagram_shapes(node, x0, x1, y, dy, draw_shape, nullptr);
}

uint32_t VNode_bound_marker_list() {
    static GLuint list = 0;
    if (list == 0) {
        list = glGenLists(1);
        glNewList(list, GL_COMPILE);
        compile_bound_marker();
        glEndList();
    }
    return list;
}

void VNode_draw_bounds(const VNode* node) {
    const GLuint list = VNode_bound_marker_list();
    glPushMatrix();
    frame_apply_gl(&node->frame->current);
    glPushMatrix();
    const BoundSphere& b = node->bound;
    glTranslated(b.centre.x, b.centre.y, b.centre.z);
    glScaled(b.radius, b.radius, b.radius);
    glCallList(list);
    glPopMatrix();
    glPopMatrix();
}
