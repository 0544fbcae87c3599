#pragma once
// What the tree shows about itself: the plot pass's counters as text, a diagram of the whole
// tree in screen pixels, and markers of nodes' bounding spheres in the scene.

#include <cstdint>

#include "scene/vnode.h"

// The two statistics texts, formatted from the plot counters and total_nodes.
struct StatsText {
    char nodes[160];    // visits (and live nodes), leaves, the deepest visit
    char plotted[80];   // opaque and transparent plot operations
};
void VNode_stats_format(StatsText* out);
// Draws them with the current font, lines of height h: the nodes at (0, 2h) in 0x80FF80, the
// plot operations at (0, 6h) in 0xFFC080.
void VNode_stats_text();

// One shape of the tree diagram, in pixels (y grows downwards).
enum class DiagramShapeKind : uint8_t { point, line, fill_box, draw_box };
struct DiagramShape {
    DiagramShapeKind kind;
    double x, y;    // the point, the line's start, the box's corner
    double x2, y2;  // the line's end, the box's width and height (unused for a point)
    uint32_t colour;
};
using DiagramSink = void (*)(void* user, const DiagramShape& shape);

// The shapes of the diagram of node's subtree, in drawing order, without OpenGL. The node sits
// at the middle of x0..x1 on row y; its children share that range equally, one row a tenth of
// the remaining way down towards dy. Lines are grey; a node with children is blue, a leaf
// black, each with a lighter outline; transparent nodes are diamonds, opaque ones squares,
// and a node plotted only as a leaf has a dot in the middle. Children go last to first.
void VNode_tree_diagram_shapes(const VNode* node, double x0, double x1, double y, double dy,
                               DiagramSink sink, void* user);
// Draws those shapes with the 2D primitives, in the current (overlay) coordinates.
void VNode_tree_diagram(const VNode* node, double x0, double x1, double y, double dy);

// The display list of the bound marker: three unit rings 0.2 wide, around the x, y and z
// axes in red, green and blue, darker on their negative halves. Compiled on the first call.
uint32_t VNode_bound_marker_list();
// Draws the marker of the node's bounding sphere in the scene.
void VNode_draw_bounds(const VNode* node);
