// The tree and its passes: creation, frames, removal (deferred or not), the advance walk's order,
// the collision pass against brute force; the plot pass, the lights it chooses (the light tree,
// its cuts and merges) and the views drawn from the tree: cube map faces, the mirrored sphere,
// the tree diagram, bound markers.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/camera.h"
#include "foundation/random.h"
#include "platform/errorlog.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "scene/envviews.h"
#include "scene/lights.h"
#include "scene/plot.h"
#include "scene/treediag.h"
#include "scene/vnode.h"
#include "scene/work.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "support/scratch_dir.h"

namespace {

using Log = std::vector<std::string>;
Log tree_log;  // every advance and free, in order

// Moves by velocity * dt through its own frame; may act once, on its first advance.
struct Probe : Thing { char label; void (*on_advance)(Probe* self); int advances; };

void probe_advance(VNode* node, double dt) {
    Probe* p = VNode_as<Probe>(node);
    tree_log.push_back(std::string("advance ") + p->label);
    frame_translate(&p->frame->current, p->velocity.x * dt, p->velocity.y * dt, p->velocity.z * dt);
    if (p->advances++ == 0 && p->on_advance) p->on_advance(p);
}
void probe_free(VNode* node) { tree_log.push_back(std::string("free ") + VNode_as<Probe>(node)->label); }
const ThingType probe_type = {"Probe", sizeof(Probe), probe_advance, nullptr, nullptr, probe_free};

Probe* probe(VNode* parent, char label) {
    Probe* p = static_cast<Probe*>(VNode_create_thing(&probe_type, parent));
    VNode_take_frame(p, nullptr), p->label = label;
    return p;
}

using Pair = std::pair<VNode*, VNode*>;
std::vector<Pair> calls;  // every collide call, in order: (node, other)

void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    frame_translate(&t->frame->current, t->velocity.x * dt, t->velocity.y * dt, t->velocity.z * dt);
}
void ball_collide(VNode* node, VNode* other) { calls.emplace_back(node, other); }

struct Ball : Thing { uint32_t number; };  // numbered in the order of creation
uint32_t balls_made = 0;

const ThingType ball_type = {"Ball", sizeof(Ball), ball_advance, nullptr, ball_collide, nullptr};
const ThingType group_type = {"Group", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};

// A ball at p that moves by v during the one cycle that run() simulates.
Thing* ball(VNode* parent, Vec3 p, double radius, Vec3 v = {0, 0, 0}, const ThingType* type = &ball_type) {
    Ball* t = VNode_as<Ball>(VNode_create_thing(type, parent));
    t->number = balls_made++, t->bound.radius = radius, t->velocity = v;
    VNode_take_frame(t, nullptr);
    frame_translate(&t->frame->current, p.x, p.y, p.z);
    return t;
}

double uniform(double lo, double hi) { return lo + random_real(hi - lo); }
Vec3 velocity(double s) { return Vec3{uniform(-s, s), uniform(-s, s), uniform(-s, s)}; }

// Balls spread over a cube of side 200: some large, some of radius 0, some fast, some in a group
// that is not tested itself, some nested in others.
std::vector<VNode*> random_scene(VNode* world, int count, const ThingType* type = &ball_type) {
    VNode* group = VNode_create(&group_type, world);
    group->flags |= VN_NO_COLLIDE;
    std::vector<VNode*> nodes;
    for (int i = 0; i < count; i++) {
        int kind = random_int(20);
        VNode* parent = kind == 3 ? group : kind == 4 && i > 0 ? nodes[static_cast<std::size_t>(random_int(i))] : world;
        Vec3 p = {uniform(-100, 100), uniform(-100, 100), uniform(-100, 100)};
        double radius = kind == 0 ? uniform(8, 30) : kind == 1 ? 0.0 : uniform(0.05, 1.5);
        nodes.push_back(ball(parent, p, radius, velocity(kind == 2 ? 60 : 2), type));
    }
    return nodes;
}

// Handlers that do what the game's do in the middle of the pass: shrink the node (a split), add
// a twin beside it, remove the other node.
uint64_t order_hash = 0;
void churn_collide(VNode* node, VNode* other);
const ThingType churn_type = {"Churn", sizeof(Ball), ball_advance, nullptr, churn_collide, nullptr};
void churn_collide(VNode* node, VNode* other) {
    for (VNode* n : {node, other}) order_hash = (order_hash ^ VNode_as<Ball>(n)->number) * 0x100000001B3ull;  // FNV-1a
    calls.emplace_back(node, other);
    if (calls.size() % 11 == 0) {
        node->bound.radius *= 0.7;
        Vec3 c = node->world_centre;
        ball(node->parent, {c.x + node->bound.radius, c.y, c.z}, node->bound.radius, {0, 0, 0}, &churn_type);
    }
    if (calls.size() % 13 == 0) VNode_remove(other);
}

void shrink_other_collide(VNode* node, VNode* other) { calls.emplace_back(node, other), other->bound.radius = 0.0; }
const ThingType shrinker_type = {"Shrinker", sizeof(Ball), ball_advance, nullptr, shrink_other_collide, nullptr};

// The probe's handler takes the crowd out of the walk at the first contact, so that only the
// probe queries through it.
VNode* crowd = nullptr;
void seeker_collide(VNode* node, VNode* other) {
    calls.emplace_back(node, other);
    if (crowd) VNode_remove(crowd);
    crowd = nullptr;
}
const ThingType seeker_type = {"Probe", sizeof(Ball), ball_advance, nullptr, seeker_collide, nullptr};

// A fresh world; no deferral left active. run() simulates one cycle and then the collision pass.
class Tree : public WorldTest<> {
protected:
    void SetUp() override { tree_log.clear(), calls.clear(), WorldTest::SetUp(); }
    void TearDown() override {
        WorldTest::TearDown();
        EXPECT_FALSE(VNode_deferral_active());
    }
    void run() {
        VNode_advance_tree(world, 0.0);  // the world's sphere around the start positions
        VNode_remember_frames(world), VNode_advance_tree(world, 1.0);
        calls.clear(), VNode_collide(world);
    }
};
using Collide = Tree;


// A thing that records what the graphics state looked like when drawn; a sloppy one leaves a
// translation on the matrix (to see whether it is reloaded).
struct Mark : VNode { char label; bool sloppy; };

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
const ThingType white_ball_type = {"Ball", sizeof(Mark), nullptr, ball_plot, nullptr, nullptr};

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
        ball = mark(world, 'b', 0, 0, 0, true, &white_ball_type), ball->bound.radius = 3.0;
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

Light make_light(float x, float y, float z, float weight) { return Light{{x, y, z}, {1, 1, 1}, weight, 0.0f}; }

std::vector<Light> scattered(int n) {  // in a 50 x 10 x 30 box, weights 0.1 to 1.1
    auto real = [](double top) { return static_cast<float>(random_real(top)); };
    std::vector<Light> lights;
    for (int k = 0; k < n; k++) lights.push_back(make_light(real(50), real(10), real(30), real(1) + 0.1f));
    return lights;
}

float total_weight(const std::vector<Light>& lights) {
    return std::accumulate(lights.begin(), lights.end(), 0.0f, [](float w, const Light& l) { return w + l.weight; });
}

class LightTreeTest : public testing::Test {
protected:
    void SetUp() override { LightTree_init(&tree); DynArray_init_of<Light>(&out); }
    void TearDown() override { LightTree_free(&tree); DynArray_free(out); }
    void build(const std::vector<Light>& lights) {
        LightTree_clear(&tree);
        for (const Light& l : lights) LightTree_add_leaf(&tree, l.pos.x, l.pos.y, l.pos.z, 1, 1, 1, l.weight);
        root = LightTree_build(&tree);
    }
    std::vector<Light> query(Vec3f p) {
        out.count = 0;
        LightTree_query(&tree, root, p, LIGHT_CUT_THRESHOLD, &out);
        return result();
    }
    std::vector<Light> merge(const std::vector<Light>& lights, int32_t limit) {
        out.count = 0;
        for (const Light& l : lights) DynArray_push_value(&out, l);
        lights_merge(&out, Vec3f{0, 0, 0}, limit);
        return result();
    }
    std::vector<Light> result() const { return {DynArray_items<Light>(&out), DynArray_items<Light>(&out) + out.count}; }
    // Every entry but the root is the child of one later entry, its box inside its parent's.
    void check_tree(int32_t leaves) const {
        ASSERT_EQ(root, 2 * leaves - 2);
        ASSERT_EQ(tree.lights.count, static_cast<uint32_t>(2 * leaves - 1));
        std::vector<int> parents(tree.entries.count, 0);
        parents[root] = 1;
        const LightEntry* e = DynArray_items<LightEntry>(&tree.entries);
        for (int32_t k = 0; k <= root; k++) {
            if (e[k].left < 0) continue;
            for (int32_t c : {e[k].left, e[k].right}) {
                ASSERT_TRUE(c >= 0 && c < k);
                parents[c]++;
                for (int a = 0; a < 3; a++) EXPECT_TRUE(e[k].lo[a] <= e[c].lo[a] && e[k].hi[a] >= e[c].hi[a]);
            }
        }
        for (int n : parents) EXPECT_EQ(n, 1);
    }
    LightTree tree;
    DynArray out;
    int32_t root = -1;
};

}  // namespace

TEST_F(Tree, CreationBorrowsTheParentFrameTakenFramesAreCopiesAndAttachingKeepsTheFrame) {
    VNode_destroy(world);
    world = World_create(5, 6, 7, nullptr);
    VNode* plain = VNode_create(&probe_type, world);
    EXPECT_TRUE(plain->frame == world->frame && plain->parent == world);
    EXPECT_FALSE(vec3_differs(plain->world_centre, Vec3{5, 6, 7}));
    Thing* t = VNode_create_thing(&probe_type, world);
    EXPECT_TRUE(t->flags == VN_MOBILE && !vec3_differs(t->velocity, Vec3{0, 0, 0}));
    EXPECT_EQ(children_of(world), (std::vector<VNode*>{plain, t}));
    // A type whose size leaves no room for the velocity must not be overrun.
    static const ThingType bare = {"bare", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};
    VNode_create_thing(&bare, world)->velocity = Vec3{1, 2, 3};
    VNode* early = VNode_create(&probe_type, plain);
    Mat4 m = mat4_identity();
    frame_translate(&m, 0, 9, 0);
    VNode_take_frame(plain, &m);
    EXPECT_TRUE(plain->frame->current.m[13] == 9.0 && plain->frame->previous.m[13] == 9.0);
    EXPECT_EQ(early->frame, world->frame) << "children created earlier keep the old frame";
    VNode_take_frame(plain, nullptr);  // already owned: keeps its matrices
    EXPECT_EQ(plain->frame->current.m[13], 9.0);
    // A node made without a parent keeps the shared identity when attached later.
    VNode* loose = VNode_create(&probe_type, nullptr);
    loose->bound.centre = Vec3{1, 0, 0};
    VNode_attach(loose, world);
    EXPECT_TRUE(loose->parent == world && loose->frame == frame_shared_identity());
    VNode_remember_frames(world);
    EXPECT_FALSE(vec3_differs(loose->world_centre, Vec3{1, 0, 0})) << "not moved by the World's frame";
}

TEST_F(Tree, RemovalMovesTheLastChildIntoTheHoleAndDestroysTheSubtree) {
    Probe *a = probe(world, 'a'), *b = probe(world, 'b'), *c = probe(world, 'c');
    probe(probe(a, 'x'), 'z');
    probe(a, 'y');
    uint32_t before = total_nodes;
    VNode_remove(a);
    EXPECT_EQ(children_of(world), (std::vector<VNode*>{c, b}));
    EXPECT_EQ(total_nodes, before - 4);
    // Children in slot order, each before its parent's own free.
    EXPECT_EQ(tree_log, (Log{"free z", "free x", "free y", "free a"}));
}

TEST_F(Tree, DeferredRemovalDestroysOnceAfterThePass) {
    Probe* a = probe(world, 'a');
    probe(a, 'k');
    Probe* b = probe(world, 'b');
    uint32_t before = total_nodes;
    VNode_begin_deferral();
    VNode_begin_deferral();  // nested begin changes nothing
    for (Probe* n : {a, b, a}) VNode_remove(n);  // a twice: say, a second contact
    EXPECT_EQ(VNode_child_count(world), 0u);
    EXPECT_EQ(total_nodes, before);
    EXPECT_TRUE(tree_log.empty()) << "a still valid inside the pass";
    VNode_end_deferral();
    EXPECT_EQ(total_nodes, before - 3) << "a freed once";
    VNode_end_deferral();  // not active: nothing
}

TEST_F(Tree, BubbleEnclosesItsChildrenInItsOwnCoordinates) {
    frame_translate(&world->frame->current, 10, 0, 0);
    world->bound = BoundSphere{{1, 2, 3}, 4};
    const struct { Vec3 at; double radius; } kids[] = {{{13, 0, 0}, 2}, {{10, 5, 0}, 1}, {{7, -1, 2}, 0.5}};
    for (const auto& k : kids) {
        Probe* p = probe(world, 'k');
        p->bound.radius = k.radius, p->world_centre = k.at;
    }
    bubble_advance(world, 0.1);
    for (const auto& k : kids) {
        const Vec3 local = vec3_sub(k.at, Vec3{10, 0, 0});
        EXPECT_LE(vec3_dist(local, world->bound.centre) + k.radius, world->bound.radius + 1e-12);
    }
    EXPECT_LT(world->bound.radius, 5.5);
}

TEST_F(Tree, OrderBitsChooseWhenChildrenAdvance) {
    const struct { uint32_t bits; Log expected; } cases[] = {
        {0x00, {"advance p", "advance a", "advance g", "advance b"}},
        {VN_CHILDREN_FIRST, {"advance g", "advance a", "advance b", "advance p"}},
        {0x40, {"advance p"}}, {0xC0, {"advance p"}},
    };
    for (const auto& c : cases) {
        Probe *p = probe(world, 'p'), *a = probe(p, 'a');
        probe(p, 'b'), probe(a, 'g');
        p->flags |= c.bits;
        a->flags |= c.bits & VN_CHILDREN_FIRST;  // 0x40 on p alone must hide the grandchild too
        tree_log.clear();
        VNode_advance_tree(p, 0.1);
        EXPECT_EQ(tree_log, c.expected) << "bits " << c.bits;
        VNode_remove(p);
    }
}

TEST_F(Tree, ChildRemovingItselfLetsTheLastChildWaitAndIsFreedAfterThePass) {
    Probe* a = probe(world, 'a');
    for (char l : {'b', 'c'}) probe(world, l);
    a->on_advance = [](Probe* self) { VNode_remove(self); };
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance b", "free a"}));
    tree_log.clear();
    VNode_advance_tree(world, 0.1);
    EXPECT_EQ(tree_log, (Log{"advance c", "advance b"}));
}

TEST_F(Tree, ThingSpawnedDuringTheWalkAdvancesInTheSamePass) {
    Probe* a = probe(world, 'a');
    probe(world, 'b');
    a->bound.radius = 1.0, a->velocity = Vec3{1, 0, 0};
    a->on_advance = [](Probe* self) {
        // Fired from where the spawner stands, into the spawner's parent.
        Probe* s = probe(self->parent, 's');
        Mat4 m = self->frame->current;
        VNode_take_frame(s, &m);
        s->world_centre = s->start_centre = frame_point_to_world(&m, 0, 0, 0);
        s->velocity = Vec3{0, 0, 10};
        VNode_remove(VNode_child(self->parent, 1));  // freed after the pass
    };
    VNode_remember_frames(world);
    VNode_advance_tree(world, 0.5);
    EXPECT_EQ(tree_log, (Log{"advance a", "advance s", "free b"}));
    VNode* s = VNode_child(world, 1);
    EXPECT_TRUE(!vec3_differs(s->start_centre, Vec3{0.5, 0, 0}) && !vec3_differs(s->world_centre, Vec3{0.5, 0, 5}));
    // The World advanced last and encloses its children's new positions.
    EXPECT_NEAR(world->bound.radius, 0.5 * (5.0 + 1.0), 1e-12);
}

// Pairs alone in a world (the far ball gives it its extent), touching or not over one cycle.
TEST_F(Collide, SweptSpheresMeetBetweenStartAndNowOnlyAndRadiusZeroTestsAsZero) {
    const struct { Vec3 p, v; double r; Vec3 q, w; double s; bool hit; } cases[] = {
        {{-10, 0, 0}, {20, 0, 0}, 1, {10, 0, 0}, {-20, 0, 0}, 1, true},  // crossing
        {{-10, 3, 0}, {20, 0, 0}, 1, {10, 0, 0}, {-20, 0, 0}, 1, false},  // 3 apart as they pass
        {{50, 0, 0}, {4, 0, 0}, 1, {60, 0, 0}, {}, 1, false},  // closest approach after the cycle
        {{5, 5, 5}, {}, 0, {5, 5, 5}, {}, 0, true},            // one point
        {{5, 5, 5}, {}, 0, {5.005, 5, 5}, {}, 0, false},       // in each other's boxes only
        {{-5, -5, -5}, {}, 1, {-5, -5, -3.995}, {}, 0, false},
    };
    for (const auto& c : cases) {
        Thing* a = ball(world, c.p, c.r, c.v);
        Thing* b = ball(world, c.q, c.s, c.w);
        Thing* far = ball(world, {100, 100, 100}, 1);
        run();
        const std::vector<Pair> both = {{a, b}, {b, a}, {b, a}, {a, b}};  // each side, visitor first
        EXPECT_EQ(calls, c.hit ? both : std::vector<Pair>{}) << c.q.x;
        for (VNode* n : {a, b, far}) VNode_remove(n);
    }
}

TEST_F(Collide, NoCollideNodeIsSkippedButItsChildrenAreNot) {
    Thing* group = ball(world, {0, 0, 0}, 5);
    group->flags |= VN_NO_COLLIDE;
    Thing* inner = ball(group, {1, 0, 0}, 1);
    Thing* other = ball(world, {2, 0, 0}, 1);
    run();
    EXPECT_EQ(std::set<Pair>(calls.begin(), calls.end()), (std::set<Pair>{{inner, other}, {other, inner}}));
}

using CollideDeathTest = Collide;
TEST_F(CollideDeathTest, NanPositionIsFatal) {
    ScratchDir dir;
    Thing* t = ball(world, {1, 1, 1}, 1);
    run();
    frame_translate(&t->frame->current, std::numeric_limits<double>::quiet_NaN(), 0, 0);
    VNode_advance_tree(world, 0.0);
    fatal_message_box = [](const char*) {};
    EXPECT_EXIT(VNode_collide(world), testing::ExitedWithCode(1), "");
    fatal_message_box = fatal_message_box_show;
    const std::string log = read_file("graphics_error.log");
    EXPECT_TRUE(log.ends_with(" Bounds of the world volume are corrupted in VNode_collide\n")) << log;
}

// Against every pair by the same swept test: each touching pair reported once per visitor
// (also when stored in several cells), from the smaller side when the boxes differ eightfold.
// The work counters: every contact from a sphere test, each test from a candidate, every node
// in through the root; they add up over passes until a reset.
TEST_F(Collide, RandomScenesMatchBruteForceAndCountTheirWork) {
    zibu_rand_reset(7);
    std::vector<VNode*> nodes = random_scene(world, 3000);
    VNode_reset_counters();
    PassWork one{};
    for (int pass = 0; pass < 2; pass++) {
        run();
        EXPECT_GT(collide_stats().cells_used, 10000u) << "the pool must have grown and rebased its links";
        if (pass == 0) {
            one = pass_work;
            EXPECT_GE(one.sphere_tests, calls.size() / 2);
            EXPECT_LE(one.sphere_tests, one.candidate_pairs);
            EXPECT_GE(one.cells_touched, nodes.size());
            EXPECT_EQ(one.lights_scored, 0u);
        }
        // Widest side of a node's swept box against the world's, as the octree sees it.
        auto width = [&](const VNode* n) {
            double widest = 0;
            for (auto c : {&Vec3::x, &Vec3::y, &Vec3::z}) {
                double world_side = std::fabs(world->start_centre.*c - world->world_centre.*c) + 2 * world->bound.radius;
                double side = std::fabs(n->start_centre.*c - n->world_centre.*c) + 2 * std::max(n->bound.radius, 0.01);
                widest = std::max(widest, side / world_side);
            }
            return widest;
        };
        ASSERT_EQ(calls.size() % 2, 0u);
        std::set<Pair> visited;
        for (std::size_t i = 0; i < calls.size(); i += 2) {
            ASSERT_EQ(calls[i + 1], Pair(calls[i].second, calls[i].first)) << "both calls, visitor first";
            ASSERT_TRUE(visited.insert(calls[i]).second) << "a visitor reports each contact once";
            ASSERT_TRUE(VNode_swept_hit(calls[i].first, calls[i].second)) << "reported without touching";
        }
        std::size_t lopsided = 0;
        for (std::size_t i = 0; i < nodes.size(); i++) {
            for (std::size_t j = i + 1; j < nodes.size(); j++) {
                VNode *a = nodes[i], *b = nodes[j];
                if (!VNode_swept_hit(a, b)) continue;
                bool from_a = visited.count({a, b}) != 0, from_b = visited.count({b, a}) != 0;
                ASSERT_TRUE(from_a || from_b) << "touching pair missed";
                double wa = width(a), wb = width(b);
                if (std::max(wa, wb) < 8 * std::min(wa, wb)) continue;
                lopsided++;
                EXPECT_TRUE(wa < wb ? from_a && !from_b : from_b && !from_a) << "lopsided pair from the larger side";
            }
        }
        EXPECT_GT(lopsided, 50u);
        for (VNode* n : nodes) VNode_as<Thing>(n)->velocity = velocity(3);  // on, over the reused pool
    }
    EXPECT_GT(pass_work.sphere_tests, one.sphere_tests);
    EXPECT_GT(pass_work.cells_touched, one.cells_touched);
    VNode_reset_counters();
    EXPECT_EQ(pass_work.sphere_tests + pass_work.cells_touched + pass_work.candidate_pairs, 0u);
}

// The order of the calls is part of what the pass promises: as first recorded, pass after pass.
TEST_F(Collide, CallOrderOfABusySceneStaysAsRecorded) {
    zibu_rand_reset(11);
    balls_made = 0;
    random_scene(world, 2000, &churn_type);
    order_hash = 0xCBF29CE484222325ull;
    std::size_t total = 0;
    for (int pass = 0; pass < 3; pass++) {
        run();
        total += calls.size();
    }
    EXPECT_EQ(total, 9156u);
    EXPECT_EQ(order_hash, 17257141669246341549ull);
}

// A handler that changes the other node's sphere changes what the rest of the pass tests: the
// middle ball, shrunk to a point by the first visitor's handler, no longer reaches the last.
TEST_F(Collide, SphereChangedByAHandlerIsTestedAsChangedForTheRestOfThePass) {
    Thing* first = ball(world, {0, 0, 0}, 1, {0, 0, 0}, &shrinker_type);
    Thing* middle = ball(world, {1.5, 0, 0}, 1);
    ball(world, {3, 0, 0}, 1);
    ball(world, {100, 100, 100}, 1);  // gives the world its extent
    run();
    EXPECT_EQ(calls, (std::vector<Pair>{{first, middle}, {middle, first}}));
}

// More nodes in the cells of one query than the 10,000 the candidate list once held: 22^3
// points a millionth apart, all in the same cells, and a probe touching one of them.
TEST_F(Collide, CrowdedCellsLoseNoContact) {
    Thing* probe = ball(world, {1.0000001, 1, 1}, 3e-7, {0, 0, 0}, &seeker_type);
    crowd = VNode_create(&group_type, world);
    crowd->flags |= VN_NO_COLLIDE;
    Thing* touched = ball(crowd, {1, 1, 1}, 0);
    auto at = [](int i) { return 1 + 1e-6 * i; };
    for (int k = 1; k < 22 * 22 * 22; k++) ball(crowd, {at(k % 22), at(k / 22 % 22), at(k / 484)}, 0);
    ball(world, {100, 100, 100}, 1);  // gives the world its extent
    run();
    EXPECT_GT(collide_stats().candidates_most, 10000u);
    EXPECT_EQ(calls, (std::vector<Pair>{{probe, touched}, {touched, probe}}));
}


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
            const bool shown = face == (z < 0 ? 0 : 5);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            const auto before = view_state();
            VNode_reset_counters();
            face_view(world, viewer, 100, 100, 64, 64, face);
            EXPECT_EQ(view_state(), before) << "face " << face;
            EXPECT_EQ(things_plotted, shown ? 1u : 0u) << "z " << z << " face " << face;
            EXPECT_EQ(white(gl_test_pixel(132, 132)), shown) << "face " << face;  // drawn into its square only
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
    for (int i = 0; i < 3; i++) VNode_create(&invisible_type, world);
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
    VNode* a = VNode_create(&invisible_type, world);
    VNode_create(&invisible_type, world)->flags |= VN_TRANSPARENT;
    VNode_create(&invisible_type, a)->flags |= VN_TRANSPARENT;
    VNode_create(&invisible_type, a)->flags |= VN_PLOT_IF_LEAF;
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
    for (double radius : {0.0, 1.0}) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        world->bound.radius = radius;
        VNode_draw_bounds(world);
        const auto rgb = gl_test_pixels(GL_TEST_WIDTH / 2 - 150, GL_TEST_HEIGHT / 2 - 150, 300, 300);
        int lit = 0;  // none for radius 0, else the rings round x and y, seen edge on
        for (std::size_t i = 0; i < rgb.size(); i += 3) lit += rgb[i] + rgb[i + 1] + rgb[i + 2] > 0;
        EXPECT_TRUE(radius == 0.0 ? lit == 0 : lit > 500) << radius << ": " << lit;
    }
    EXPECT_EQ(VNode_bound_marker_list(), list) << "compiled once, kept";
    EXPECT_EQ(glIsList(list), GL_TRUE);
}

// Lights at one place, or a float apart (the midpoint no split), once split for ever.
TEST_F(LightTreeTest, TreesNestAndEveryCutKeepsTheWholeWeight) {
    EXPECT_EQ(LightTree_build(&tree), -1);  // no leaves, no tree
    std::vector<Light> together(5, make_light(1, 2, 3, 1));
    together.insert(together.end(), {make_light(1.0f, 2.0f, 3.0000002f, 1), make_light(9, 2, 3, 1)});
    zibu_rand_reset();
    for (const std::vector<Light>& lights : {std::vector<Light>{make_light(3, 4, 5, 2)}, scattered(300), together}) {
        build(lights);
        check_tree(static_cast<int32_t>(lights.size()));
        const float total = total_weight(lights);
        for (Vec3f p : {Vec3f{1, 2, 3}, Vec3f{25, 5, 15}, Vec3f{0, 0, 60}, Vec3f{-500, 0, 0}}) {
            EXPECT_NEAR(total_weight(query(p)), total, total * 1e-5f);
            lights_select(&tree, p, 8, &out);
            EXPECT_LE(out.count, 8u);
            EXPECT_NEAR(total_weight(result()), total, total * 1e-5f);
        }
        EXPECT_EQ(query(Vec3f{-500, 0, 0}).size(), 1u);  // far off the root stands for all
    }
    EXPECT_EQ(query(Vec3f{1, 2, 3}).size(), 7u);  // on the shared place every leaf comes back
}

// A and B merge first; then (A+B) with C costs more than D with E, though B with C alone was
// cheaper: a stale cost picks the wrong pair. D, moved into A's slot, must take its own costs
// along (A with C would undercut D with E).
TEST_F(LightTreeTest, TenLightsIntoEightMergeTheCheapestPairTwice) {
    const Light A = make_light(10, 0, 0, 1), B = make_light(10, 0.1f, 0, 1), C = make_light(10, 0.45f, 0, 1);
    const Light D = make_light(0, 0, 10, 1), E = make_light(0.4f, 0, 10, 1);
    const Light o[] = {make_light(-10, 0, 0, 1), make_light(0, -10, 0, 1), make_light(0, 0, -10, 1),
                       make_light(0, 10, 0, 1), make_light(-7, -7, 0, 1)};
    std::vector<Light> got = merge({o[0], o[1], A, C, o[2], B, o[3], E, o[4], D}, 8);
    ASSERT_EQ(got.size(), 8u);
    for (const Light& e : {o[0], o[1], o[2], o[3], o[4], C, make_light(10, 0.05f, 0, 2), make_light(0.2f, 0, 10, 2)}) {
        int matches = 0;
        for (const Light& g : got) matches += vec3f_dist(g.pos, e.pos) < 1e-5f && g.weight == e.weight;
        EXPECT_EQ(matches, 1) << e.pos.x << " " << e.pos.y << " " << e.pos.z;
    }
}

TEST_F(LightTreeTest, MergeNeverPutsALightOnTheThingItself) {
    for (const Light& l : merge({make_light(1, 0, 0, 1), make_light(-1, 0, 0, 1), make_light(0, 5, 0, 1)}, 2))
        EXPECT_GT(vec3f_len(l.pos), 0.5f);  // the first two straddle the thing
    // A light on the thing stays as it is; the other two merge.
    std::vector<Light> got = merge({make_light(0, 0, 0, 1), make_light(5, 0, 0, 1), make_light(5, 1, 0, 1)}, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].pos.x, 0.0f);
    EXPECT_FLOAT_EQ(got[1].weight, 2.0f);
}

// A tree kept over lights that changed (one moved, one fewer, the first ones back) is stale.
TEST_F(LightTreeTest, SceneTreeFollowsItsLights) {
    zibu_rand_reset(5);
    std::vector<Light> lights = scattered(200), moved = lights, fewer(lights.begin(), lights.end() - 1);
    moved[57].pos.x += 1.0f;
    light_tree_on();
    for (const std::vector<Light>* given : {&lights, &lights, &moved, &fewer, &lights}) {
        light_tree_begin();
        for (const Light& l : *given) light_tree_add(l.pos.x, l.pos.y, l.pos.z, 1, 1, 1, l.weight);
        light_tree_end();
        build(*given);
        for (auto [a, b] : {std::pair{&light_tree.entries, &tree.entries},
                            std::pair{&light_tree.lights, &tree.lights}}) {
            ASSERT_EQ(a->count, b->count);
            EXPECT_EQ(std::memcmp(a->data, b->data, std::size_t{a->count} * a->elem_size), 0);
        }
    }
    light_tree_off();
}

// The lights chosen near and far from two sheets of lights (cuts of 3 to 95), some right on a
// light, and the merges of a lattice rich in equal costs stay as first recorded, bit for bit.
TEST_F(LightTreeTest, ChoiceStaysAsRecorded) {
    zibu_rand_reset(3);
    auto between = [](float lo, float hi) { return lo + static_cast<float>(random_real(hi - lo)); };
    for (int k = 0; k < 2500; k++) {
        bool wide = k % 2 == 0;
        float x = wide ? between(0, 60) : between(25, 31), z = wide ? between(0, 60) : between(0, 6);
        float y = (wide ? 20.0f : 10.0f) + between(-2, 2);
        LightTree_add_leaf(&tree, x, y, z, between(0, 1), between(0, 1), between(0, 1), between(0.001f, 0.01f));
    }
    LightTree_build(&tree);
    uint64_t hash = 0xCBF29CE484222325ull, lights = 0;
    auto fold = [&] {  // FNV-1a over the chosen lights' bytes
        const unsigned char* bytes = static_cast<const unsigned char*>(out.data);
        for (std::size_t i = 0; i < out.count * sizeof(Light); i++) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
        lights += out.count;
    };
    for (int k = 0; k < 600; k++) {
        Vec3f p = k % 3 == 0 ? Vec3f{between(-20, 80), between(-20, 60), between(-20, 80)}
                  : k % 3 == 1 ? Vec3f{between(0, 60), between(19, 26), between(0, 60)}
                               : Vec3f{between(24, 32), between(8, 14), between(-1, 7)};
        if (k % 50 == 0) p = DynArray_at<Light>(&tree.lights, static_cast<uint32_t>(k)).pos;  // on a light
        lights_select(&tree, p, 8, &out);
        fold();
    }
    std::vector<Light> lattice;  // the middle one sits on the thing
    for (int k = 0; k < 27; k++) lattice.push_back(make_light(k % 3 - 1.0f, k / 3 % 3 - 1.0f, k / 9 - 1.0f, 1));
    for (int limit : {8, 5, 1}) {
        merge(lattice, limit);
        fold();
    }
    EXPECT_EQ(lights, 4399u);
    EXPECT_EQ(hash, 14980519980001952812ull);
}

// A light beyond the library's count is dropped, and leaves the last one in use as it was.
TEST_F(GlTest, PointLightsBeyondTheLibrarysCountChangeNothing) {
    lights_start();
    ASSERT_GE(max_lights, 8);
    lights_off();
    for (int32_t k = 0; k <= max_lights; k++) light_point(k * 1.0f, 0, 0, 1, 1, 1, k + 1.0f);
    EXPECT_EQ(next_light, GL_LIGHT0 + max_lights);
    const GLenum last = static_cast<GLenum>(GL_LIGHT0 + max_lights - 1);
    GLfloat linear = 0.0f;
    glGetLightfv(last, GL_LINEAR_ATTENUATION, &linear);
    EXPECT_TRUE(glIsEnabled(last));
    EXPECT_FLOAT_EQ(linear, 1.0f / static_cast<float>(max_lights));
    lights_off();
    EXPECT_EQ(next_light, GL_LIGHT0);
    for (GLenum l = GL_LIGHT0; l <= last; l++) EXPECT_FALSE(glIsEnabled(l));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
