// The plot pass and the views drawn from the tree: the cube map faces, the mirrored sphere, the
// tree diagram and the bound markers.
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/camera.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/envviews.h"
#include "scene/lights.h"
#include "scene/plot.h"
#include "scene/treediag.h"
#include "support/game_state.h"
#include "support/gl_context.h"

namespace {
// A thing that records what the graphics state looked like when drawn.
struct Mark : VNode {
    char label;
    bool sloppy;  // leaves a translation on the matrix (to see whether it is reloaded)
};

struct Seen {
    char label;
    GLint stack_depth;
    double tx, tz;      // translation of the model-view matrix
    GLfloat light0[4];  // light 0's position in eye coordinates
};
std::vector<Seen> seen;
int hooks = 0;

GLint stack_depth() {
    GLint d = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &d);
    return d;
}

void mark_plot(VNode* node) {
    Mark* mark = VNode_as<Mark>(node);
    GLdouble m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    Seen& s = seen.emplace_back(Seen{mark->label, stack_depth(), m[12], m[14], {}});
    glGetLightfv(GL_LIGHT0, GL_POSITION, s.light0);
    if (mark->sloppy) glTranslated(0.0, 0.0, 1000.0);
}

const ThingType mark_type = {"Mark", sizeof(Mark), nullptr, mark_plot, nullptr, nullptr};
const ThingType invisible_type = {"Invisible", sizeof(Mark), nullptr, nullptr, nullptr, nullptr};

std::string order() {
    std::string s;
    for (const Seen& e : seen) s += e.label;
    return s;
}

// A world of radius 1e6 and the eye at the origin looking along -z.
class PlotPass : public WorldTest<GlTest> {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        seen.clear(), VNode_reset_counters();
        world->bound.radius = 1e6;
        const Mat4 eye = mat4_identity();
        camera_from_frame(&eye);
    }
    void TearDown() override { WorldTest::TearDown(), light_tree_off(), lights_off(), pre_plot_hook = nullptr; }
    // A mark with its own frame at (x, y, z), or on its parent's frame when own is false.
    Mark* mark(VNode* parent, char label, double x, double y, double z, bool own = true,
               const ThingType* type = &mark_type) {
        Mark* m = VNode_as<Mark>(VNode_create(type, parent));
        m->label = label, m->bound.radius = 1.0;
        Mat4 at = mat4_identity();
        at.m[12] = x, at.m[13] = y, at.m[14] = z;
        if (own) VNode_take_frame(m, &at);
        return m;
    }
    void plot() {
        VNode_remember_frames(world);
        const std::string before = gl_test_state();
        VNode_plot(world);
        EXPECT_EQ(gl_test_state(), before);
        EXPECT_EQ(loaded_frame, nullptr);
    }
};

void ball_plot(VNode* node) {
    glDisable(GL_LIGHTING);
    sphere(0.0, 0.0, 0.0, node->bound.radius, 0xFFFFFF, 12);
}
const ThingType ball_type = {"Ball", sizeof(Mark), nullptr, ball_plot, nullptr, nullptr};

// The OpenGL state a view must leave as found, and the camera's view.
std::string view_state() {
    std::ostringstream s;
    s.precision(17);
    s << gl_test_state() << "camera";
    for (double v : g_camera.view.m) s << " " << v;
    return s.str();
}

bool white(unsigned rgb) { return rgb == 0xFFFFFF; }

// The world's one ball; the viewer (outside the tree) at the origin looks along -z.
class EnvViews : public PlotPass {
protected:
    void SetUp() override {
        PlotPass::SetUp();
        const Mat4 at = mat4_identity();
        viewer = World_create(0, 0, 0, nullptr), VNode_take_frame(viewer, &at);
        ball = mark(world, 'b', 0, 0, 0, true, &ball_type), ball->bound.radius = 3.0;
    }
    void TearDown() override { VNode_destroy(viewer), PlotPass::TearDown(); }
    void put_ball(double x, double y, double z) {
        double* t = ball->frame->current.m + 12;
        t[0] = x, t[1] = y, t[2] = z;
        VNode_remember_frames(world);
    }
    // Whether the centre texel of each face of a cube map is white.
    static std::array<bool, 6> white_faces(GLuint texture, int size) {
        std::array<bool, 6> out{};
        std::vector<unsigned char> texels(3 * size * size);
        glBindTexture(GL_TEXTURE_CUBE_MAP, texture);  // rows of 3 x 64 or 3 x 512 bytes: aligned
        for (int face = 0; face < 6; face++) {
            glGetTexImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
            const unsigned char* c = &texels[3 * (size / 2 * size + size / 2)];
            out[face] = c[0] > 200 && c[1] > 200 && c[2] > 200;
        }
        return out;
    }
    VNode* viewer = nullptr;
    Mark* ball = nullptr;
};

VNode* leaf(VNode* parent, uint32_t flags = 0) {
    VNode* n = VNode_create(&invisible_type, parent);
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

TEST_F(PlotPass, CullsBehindTheEyeAndBesideThePyramidButNotStraddlers) {
    // Beside the pyramid: more than radius 1 from its side plane, sqrt(1 + t^2) across.
    const double t = g_camera.tan_half_x, d = std::sqrt(1.0 + t * t);
    const double ty = g_camera.tan_half_y, dy = std::sqrt(1.0 + ty * ty);
    const struct { double x, y, z; bool culled; } cases[] = {
        {0, 0, 5, true},  {0, 0, 0.5, false}, {0, 0, -500, false},
        {10 * t + 0.99 * d, 0, -10, false},  {-10 * t - 1.01 * d, 0, -10, true},
        {0, 10 * ty + 0.99 * dy, -10, false}, {0, 10 * ty + 1.01 * dy, -10, true},
    };
    for (const auto& c : cases) {
        Mark* m = mark(world, 'm', c.x, c.y, c.z);
        VNode_remember_frames(m);
        EXPECT_EQ(VNode_cull(m), c.culled) << c.x << " " << c.y << " " << c.z;
    }
}

TEST_F(PlotPass, CountersAndTheirTextsFollowTheVisits) {
    Mark* a = mark(world, 'a', 0, 0, -5);
    mark(a, 'b', 0, 0, -6);
    Mark* c = mark(world, 'c', 0, 0, -7);
    c->flags |= VN_PLOT_IF_LEAF;  // has a child: its own plot is skipped
    mark(c, 'd', 0, 0, -8);
    // Behind the eye: culled with its child, which lies in view.
    mark(mark(world, 'x', 0, 0, 50), 'y', 0, 0, -5);
    Mark* e = mark(world, 'e', 0, 0, -9);
    e->flags |= VN_PLOT_IF_LEAF | VN_TRANSPARENT;  // childless: plotted
    // Without a plot of its own: visited, its child drawn.
    mark(mark(world, 'n', 0, 0, -9, true, &invisible_type), 'f', 0, 0, 0, false);
    plot();
    // Post-order, children from the last slot down; transparents last.
    EXPECT_EQ(order(), "fdbae");
    const auto expect_texts = [](const char* parsed, const char* rest, const char* plotted) {
        StatsText text;
        VNode_stats_format(&text);
        EXPECT_EQ(std::string(text.nodes), std::string("parsed_nodes = ") + parsed + " (total_nodes = " +
                                               std::to_string(total_nodes) + ")\n" + rest);
        EXPECT_EQ(std::string(text.plotted), plotted);
    };
    expect_texts("9", "leaf_nodes = 4\nmax_node_depth = 2", "things_plotted = 4\ntransparents_plotted = 1");
    VNode_reset_counters();  // all but the live nodes
    expect_texts("0", "leaf_nodes = 0\nmax_node_depth = 0", "things_plotted = 0\ntransparents_plotted = 0");
}

TEST_F(PlotPass, VisitLimitsSkipButStillCount) {
    for (char l : {'a', 'b', 'c'}) mark(world, l, 0, 0, -5);
    parsed_nodes = PLOT_MAX_VISITS - 3;  // the world and one child are the last allowed
    plot();
    EXPECT_EQ(order(), "c");
    EXPECT_EQ(parsed_nodes, PLOT_MAX_VISITS + 1);
    // A chain deeper than the depth limit is drawn down to depth 1000 only.
    seen.clear(), VNode_reset_counters();
    VNode* tip = world->children.count ? VNode_child(world, 0) : world;
    for (uint32_t depth = 2; depth <= PLOT_MAX_DEPTH + 1; depth++) tip = mark(tip, 'z', 0, 0, -5, false);
    plot();
    EXPECT_EQ(max_node_depth, PLOT_MAX_DEPTH);
    EXPECT_EQ(things_plotted, 3u + (PLOT_MAX_DEPTH - 2));  // a, b, c and depths 2..1000
}

TEST_F(PlotPass, SiblingsOnOneFrameShareOnePushExceptWithTheLightTree) {
    Mark* parent = mark(world, 'p', 0, 0, -10, true, &invisible_type);
    mark(parent, 'b', 0, 0, 0, false);
    mark(parent, 'a', 0, 0, 0, false)->sloppy = true;  // drawn first
    GLint base = stack_depth();
    plot();
    ASSERT_EQ(order(), "ab");
    EXPECT_EQ(seen[0].stack_depth, base + 1);
    EXPECT_DOUBLE_EQ(seen[0].tz, -10.0);
    EXPECT_DOUBLE_EQ(seen[1].tz, 990.0);  // the same push: a's leftover shows
    // With the light tree every opaque thing gets its own pop and push, its lights placed
    // through the camera's matrix alone.
    lights_start(), light_tree_on(), light_tree_begin();
    light_tree_add(0, 0, -12, 1, 1, 1, 1);
    light_tree_end(), seen.clear();
    plot();
    ASSERT_EQ(order(), "ab");
    EXPECT_DOUBLE_EQ(seen[1].tz, -10.0);
    for (const Seen& s : seen) {
        EXPECT_EQ(s.stack_depth, base + 1);
        EXPECT_FLOAT_EQ(s.light0[2], -12.0f);
    }
}

TEST_F(PlotPass, TransparentsComeLastFromFarthestToNearest) {
    for (auto [label, z] : {std::pair{'5', -5.0}, {'T', -20.0}, {'X', -10.0}})
        mark(world, label, 0, 0, z)->flags |= VN_TRANSPARENT;
    mark(world, 'o', 0, 0, -30);
    hooks = 0, pre_plot_hook = [] { hooks++; };
    plot();
    EXPECT_EQ(order(), "oTX5");
    EXPECT_EQ(transparents_plotted, 3u);
    EXPECT_EQ(hooks, 1);
}

TEST_F(PlotPass, NarrowedCullingViewWhileXIsHeld) {
    VNode* viewer = mark(world, 'v', 0, 0, 0, true, &invisible_type);
    // Inside the full view, outside a pyramid of half its width.
    const double full = g_camera.tan_half_x;
    mark(world, 's', 10 * full * 0.75, 0, -10);
    key_state[KEY_NARROW_CULL] = 0x80;
    VNode_remember_frames(world);
    VNode_plot_from(world, viewer);
    key_state[KEY_NARROW_CULL] = 0;
    EXPECT_EQ(order(), "");
    EXPECT_DOUBLE_EQ(g_camera.tan_half_x, 0.5 * full);
    VNode_plot_from(world, viewer);
    EXPECT_EQ(order(), "s");
}

// Both eyes and the restored projection show in the scripted runs; which eye goes where does not.
TEST_F(PlotPass, StereoPlotsTheLeftEyeFirstEachHalfTheSeparationToItsSide) {
    VNode* viewer = mark(world, 'v', 0, 0, 0, true, &invisible_type);
    mark(world, 'o', 0, 0, -10);
    VNode_remember_frames(world);
    VNode_plot_stereo(world, viewer, 0.07, 0.00025);
    ASSERT_EQ(order(), "oo");
    EXPECT_NEAR(seen[0].tx, 0.035, 1e-9);
    EXPECT_NEAR(seen[1].tx, -0.035, 1e-9);
}

TEST_F(EnvViews, AThingAheadShowsOnlyInFaceZeroAndOneBehindOnlyInFaceFiveLeavingTheViewAsFound) {
    for (const double z : {-10.0, 10.0}) {
        put_ball(0.0, 0.0, z);
        for (int face = 0; face < 6; face++) {
            const bool seen = face == (z < 0 ? 0 : 5);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            const auto before = view_state();
            VNode_reset_counters();
            face_view(world, viewer, 100, 100, 64, 64, face);
            EXPECT_EQ(view_state(), before) << "face " << face;
            EXPECT_EQ(things_plotted, seen ? 1u : 0u) << "z " << z << " face " << face;
            EXPECT_EQ(white(gl_test_pixel(132, 132)), seen) << "face " << face;  // drawn into its square only
            EXPECT_FALSE(white(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2)));
        }
    }
}

TEST_F(EnvViews, EachDirectionLandsInItsOwnCubeFaceAlsoWhenTheTextureIsReused) {
    // +x, -x, +y, -y, +z, -z: the order of the cube map's faces.
    const double dirs[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    GLuint texture = 0;
    for (int d = 0; d < 6; d++) {
        put_ball(5 + 10 * dirs[d][0], 10 * dirs[d][1], 10 * dirs[d][2]);
        const auto before = view_state();
        const GLuint got = env_cube_capture(world, 5, 0, 0, 64, texture);
        EXPECT_EQ(view_state(), before);
        EXPECT_TRUE(texture == 0 || got == texture);
        const std::array<bool, 6> faces = white_faces(texture = got, 64);
        for (int f = 0; f < 6; f++) EXPECT_EQ(faces[f], f == d) << "direction " << d << ", " << f;
    }
    glDeleteTextures(1, &texture);
}

TEST_F(EnvViews, CubeMapIsCapturedOnceAndKeptWhenTheWorldChanges) {
    put_ball(0.0, 0.0, 10.0);
    const uint32_t first = env_cube_map(world, 0, 0, 0);
    put_ball(10.0, 0.0, 0.0);
    EXPECT_EQ(env_cube_map(world, 0, 0, 0), first);
    const std::array<bool, 6> faces = white_faces(first, 512);
    EXPECT_TRUE(faces[4] && !faces[0]) << "+z as first seen, not +x where the ball is now";
}

TEST_F(EnvViews, SphereMirrorsWhatLiesBehindTheViewerAndRestoresTheState) {
    // The viewer turned to look along -x; behind it, beyond the sphere's centre, the ball.
    frame_rotate_y(&viewer->frame->current, 3.14159265358979323846 / 2);
    put_ball(10.0, 0.0, 0.0);
    const GLuint texture = env_cube_capture(world, -10, 0, 0, 64, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    camera_from_frame(&viewer->frame->current);
    glEnable(GL_LIGHTING);
    const std::string before = gl_test_state();
    env_sphere(-10.0f, 0.0f, 0.0f, 2.0f, texture);
    EXPECT_TRUE(white(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2)));
    EXPECT_EQ(gl_test_state(), before);
    glDeleteTextures(1, &texture);
}

using TreeDiagram = WorldTest<>;
TEST_F(TreeDiagram, WorldWithThreeLeavesAsTheOverlayPlacesIt) {
    for (int i = 0; i < 3; i++) leaf(world);
    // A 1366 x 768 screen: the world at the middle of 341..1366, its leaves a tenth of the way
    // down, in the middles of the thirds, drawn from the last to the first.
    const Shapes s(world, 1366 / 4, 1366, 0, 768);
    const std::vector<std::string> want = {
        "line 853,2 1195.17,76.8 808080", "line 853,2 853.5,76.8 808080", "line 853,2 511.833,76.8 808080",
        "fill 852,1 3,3 0000ff", "box 851,0 4,4 8080ff", "fill 1194,77 3,3 000000", "box 1193,76 4,4 808080",
        "fill 852,77 3,3 000000", "box 851,76 4,4 808080", "fill 510,77 3,3 000000", "box 509,76 4,4 808080"};
    EXPECT_EQ(s.outlines(), want);
    EXPECT_EQ(s.all.size(), want.size()) << "opaque nodes draw no points";
}

TEST_F(TreeDiagram, DeeperTreeNestsRangesAndRowsAndMarksTheFlags) {
    // world: [a: [a0 transparent, a1 plotted only as a leaf], b transparent]
    VNode* a = leaf(world);
    leaf(world, VN_TRANSPARENT), leaf(a, VN_TRANSPARENT), leaf(a, VN_PLOT_IF_LEAF);
    const Shapes s(world, 0, 800, 0, 1000);
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

using TreeDiagGl = PlotPass;
TEST_F(TreeDiagGl, BoundMarkerShowsTheSphereAndNothingForRadiusZero) {
    const uint32_t list = VNode_bound_marker_list();
    world->frame->current.m[14] = -5.0;
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
}
