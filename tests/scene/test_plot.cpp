#include <cmath>
#include <string>
#include <vector>

#include "foundation/camera.h"
#include "platform/opengl.h"
#include "platform/window.h"
#include "scene/advance.h"
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
