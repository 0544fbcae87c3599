#include <cstdio>
#include <string>
#include <vector>

#include "foundation/camera.h"
#include "platform/opengl.h"
#include "scene/treediag.h"
#include "support/gl_context.h"

namespace {

void no_plot_op(VNode*) {}
const ThingType leaf_type = {"Leaf", sizeof(VNode), nullptr, no_plot_op, nullptr, nullptr};

VNode* leaf(VNode* parent, uint32_t flags = 0) {
    VNode* n = VNode_create(&leaf_type, parent);
    n->flags |= flags;
    return n;
}

// Boxes and lines as "kind x,y x2,y2 colour", in drawing order; points are looked at as pictures.
struct Shapes {
    std::vector<DiagramShape> all;
    Shapes(const VNode* n, double x0, double x1, double y, double dy) {
        VNode_tree_diagram_shapes(n, x0, x1, y, dy, add, this);
    }
    static void add(void* user, const DiagramShape& s) { static_cast<Shapes*>(user)->all.push_back(s); }
    std::vector<std::string> outlines() const {
        static const char* kinds[] = {"point", "line", "fill", "box"};
        std::vector<std::string> out;
        char text[96];
        for (const DiagramShape& s : all) {
            std::snprintf(text, sizeof text, "%s %g,%g %g,%g %06x", kinds[int(s.kind)], s.x, s.y, s.x2, s.y2, s.colour);
            if (s.kind != DiagramShapeKind::point) out.push_back(text);
        }
        return out;
    }
    // The points in the 5 x 5 cell below (cx, cy): 'x' black, 'o' grey.
    std::vector<std::string> glyph(double cx, double cy) const {
        std::vector<std::string> rows(5, ".....");
        for (const DiagramShape& s : all) {
            int col = static_cast<int>(s.x - cx + 2), row = static_cast<int>(s.y - cy);
            if (s.kind != DiagramShapeKind::point || col < 0 || col > 4 || row < 0 || row > 4) continue;
            rows[row][col] = s.colour == 0 ? 'x' : s.colour == 0x808080 ? 'o' : '?';
        }
        return rows;
    }
};

}  // namespace

TEST(TreeDiagram, WorldWithThreeLeavesAsTheOverlayPlacesIt) {
    VNode* world = World_create(0, 0, 0, nullptr);
    for (int i = 0; i < 3; i++) leaf(world);
    // A 1366 x 768 screen: the world at the middle of 341..1366, its leaves a tenth of the way
    // down, in the middles of the thirds, drawn from the last to the first.
    const Shapes s(world, 1366 / 4, 1366, 0, 768);
    VNode_destroy(world);
    const std::vector<std::string> want = {
        "line 853,2 1195.17,76.8 808080", "line 853,2 853.5,76.8 808080", "line 853,2 511.833,76.8 808080",
        "fill 852,1 3,3 0000ff", "box 851,0 4,4 8080ff", "fill 1194,77 3,3 000000", "box 1193,76 4,4 808080",
        "fill 852,77 3,3 000000", "box 851,76 4,4 808080", "fill 510,77 3,3 000000", "box 509,76 4,4 808080"};
    EXPECT_EQ(s.outlines(), want);
    EXPECT_EQ(s.all.size(), want.size()) << "opaque nodes draw no points";
}

TEST(TreeDiagram, DeeperTreeNestsRangesAndRowsAndMarksTheFlags) {
    // world: [a: [a0 transparent, a1 plotted only as a leaf], b transparent]
    VNode* world = World_create(0, 0, 0, nullptr);
    VNode* a = leaf(world);
    leaf(world, VN_TRANSPARENT), leaf(a, VN_TRANSPARENT), leaf(a, VN_PLOT_IF_LEAF);
    const Shapes s(world, 0, 800, 0, 1000);
    VNode_destroy(world);
    // b's diamond is points only; then a, a row lower: 0.9 x 100 + 0.1 x 1000 = 190.
    const std::vector<std::string> want = {
        "line 400,2 600,100 808080", "line 400,2 200,100 808080", "fill 399,1 3,3 0000ff", "box 398,0 4,4 8080ff",
        "line 200,102 300,190 808080", "line 200,102 100,190 808080", "fill 199,101 3,3 0000ff",
        "box 198,100 4,4 8080ff", "fill 299,191 3,3 000000", "box 298,190 4,4 808080"};
    EXPECT_EQ(s.outlines(), want);
    const std::vector<std::string> diamond = {"..o..", ".oxo.", "oxxxo", ".oxo.", "..o.."};
    EXPECT_EQ(s.glyph(600, 100), diamond) << "b";
    EXPECT_EQ(s.glyph(100, 190), diamond) << "a0";
    const std::vector<std::string> dot = {".....", ".....", "..o..", ".....", "....."};
    EXPECT_EQ(s.glyph(300, 190), dot) << "a1's square gets a lighter point in its middle";
}

using TreeDiagGl = GlTest;
TEST_F(TreeDiagGl, BoundMarkerShowsTheSphereAndNothingForRadiusZero) {
    const uint32_t list = VNode_bound_marker_list();
    VNode* world = World_create(0, 0, -5, nullptr);
    Mat4 eye = mat4_identity();
    camera_from_frame(&eye);
    auto lit_pixels = [] {
        const auto rgb = gl_test_pixels(GL_TEST_WIDTH / 2 - 150, GL_TEST_HEIGHT / 2 - 150, 300, 300);
        int n = 0;
        for (std::size_t i = 0; i < rgb.size(); i += 3) n += rgb[i] + rgb[i + 1] + rgb[i + 2] > 0;
        return n;
    };
    for (double radius : {0.0, 1.0}) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        world->bound.radius = radius;
        VNode_draw_bounds(world);
        const int lit = lit_pixels();  // none for radius 0, else the rings round x and y, seen edge on
        EXPECT_TRUE(radius == 0.0 ? lit == 0 : lit > 500) << radius << ": " << lit;
    }
    EXPECT_EQ(VNode_bound_marker_list(), list) << "compiled once, kept";
    EXPECT_EQ(glIsList(list), GL_TRUE);
    VNode_destroy(world);
}
