// The crystal box: growth by diffusion, chipping by bullets, and its drawing, nearest faces
// first without those turned away from the eye, held to the plain drawing kept here as the
// reference: the same pixels, and no pixel textured twice.
#define GL_GLEXT_PROTOTYPES 1

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "app/ship.h"
#include "foundation/camera.h"
#include "foundation/random.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/bullet.h"
#include "things/dendrite.h"
#include "things/splode.h"

namespace {

// Puts the generator where the next random_int(7) gives move m.
void next_move_will_be(int m) {
    uint32_t state = 1;
    while (zibu_rand_reset(state), random_int(7) != m) state++;
    zibu_rand_reset(state);
}

template <class F>
void for_each_cell(const Dendrite* d, F f) {
    for (int x = 0; x < d->size_x; x++)
        for (int y = 0; y < d->size_y; y++)
            for (int z = 0; z < d->size_z; z++) f(x, y, z);
}

// Faces of crystal cells whose neighbour is empty or outside, counted from the grid, against
// the faces the drawing lists when it keeps those turned away from the eye as well.
void expect_drawing_lists_every_open_face(Dendrite* d) {
    uint32_t open = 0;
    for_each_cell(d, [&](int x, int y, int z) {
        if (dendrite_cell(d, x, y, z))
            open += !dendrite_cell(d, x - 1, y, z) + !dendrite_cell(d, x + 1, y, z) + !dendrite_cell(d, x, y - 1, z) +
                    !dendrite_cell(d, x, y + 1, z) + !dendrite_cell(d, x, y, z - 1) + !dendrite_cell(d, x, y, z + 1);
    });
    for (FaceChoice all : {FaceChoice::all_nearest_first, FaceChoice::all_as_listed}) {
        dendrite_faces_update(d, Vec3{0.5, 0.5, 0.5}, all);
        EXPECT_EQ(d->drawing.faces, open);
    }
}

struct Box : testing::Test {
    void TearDown() override {
        if (box) VNode_destroy(box);
        zibu_rand_reset();
    }
    Dendrite* box = nullptr;
};

// The plain drawing: every face with an empty or outside neighbour, newest cell first. With
// plain set it only emits the geometry (the caller chooses colour and texturing).
void reference_plot(const Dendrite* d, bool plain = false) {
    static const int step[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    static const short corner[6][4][3] = {
        {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}},
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}},
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};
    static const int tex[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    glPushAttrib(GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT);
    if (!plain) glDisable(GL_LIGHTING), glEnable(GL_TEXTURE_2D), glBindTexture(GL_TEXTURE_2D, dendrite_texture_name);
    glBegin(GL_QUADS);
    const CellPos* crystal = DynArray_items<CellPos>(&d->crystal);
    for (uint32_t i = d->crystal.count; i-- > 0;) {
        const CellPos c = crystal[i];
        float r, g, b;
        dendrite_colour(d, dendrite_cell(d, c.x, c.y, c.z), &r, &g, &b);
        if (!plain) glColor3f(r, g, b);
        for (int f = 0; f < 6; f++) {
            if (dendrite_cell(d, c.x + step[f][0], c.y + step[f][1], c.z + step[f][2])) continue;
            for (int v = 0; v < 4; v++) {
                glTexCoord2i(tex[v][0], tex[v][1]);
                glVertex3i(c.x + corner[f][v][0], c.y + corner[f][v][1], c.z + corner[f][v][2]);
            }
        }
    }
    glEnd();
    if (show_solute && !plain) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
        glDepthMask(GL_FALSE);
        glColor3f(0.1f, 0.1f, 0.1f);
        glBegin(GL_QUADS);
        const CellPos* solute = DynArray_items<CellPos>(&d->solute);
        for (uint32_t i = d->solute.count; i-- > 0;) cube_quads_textured(solute[i].x, solute[i].y, solute[i].z, 1.0);
        glEnd();
    }
    glPopAttrib();
}

// Depth in steps of the 24-bit depth buffer.
constexpr uint32_t DEPTH_FAR = 0xFFFFFF;
std::vector<uint32_t> read_depth(int w, int h) {
    std::vector<uint32_t> depth(static_cast<size_t>(w) * h);
    glReadPixels(0, 0, w, h, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, depth.data());
    for (uint32_t& z : depth) z >>= 8;
    return depth;
}

// Pixels that differ from the reference, and those of them no depth tie explains (compare_from).
struct Comparison {
    uint32_t differing = 0, unexplained = 0;
    GLuint passed = 0;     // samples that passed the depth test while the crystal was drawn
    uint32_t visible = 0;  // pixels the crystal covers in the finished picture
};

class CrystalPictures : public GlTest {
protected:
    static constexpr int W = 1280, H = 720;  // the game's size on the test screen
    static constexpr uint32_t TIE = 2;

    void SetUp() override {
        GlTest::SetUp();
        resize(W, H);
        if (dendrite_texture_name == 0) dendrite_texture_name = dendrite_texture();
    }
    void TearDown() override { show_solute = 0, zibu_rand_reset(); }

    static void SetUpTestSuite() { zibu_rand_reset(), box = dendrite_create(50, 50, 50, 0.05, nullptr), steps = 0; }
    static void TearDownTestSuite() { VNode_destroy(box), box = nullptr; }
    void grow_to(int n) { for (; steps < n; steps++) dendrite_advance(box, 1.0 / 60.0); }
    // A pixel that differs is explained when the face the reference showed there lies at
    // the depth now visible (two or more faces at exactly that depth: the order they are
    // drawn in decides), or at most TIE depth steps in front of it: a face turned away from
    // the eye that rounding lifted in front of the facing one along their common edge.
    Comparison compare_from(Vec3 eye) {
        Mat4 frame = mat4_identity();  // looking along -z as the ship does when it starts
        frame.m[12] = eye.x, frame.m[13] = eye.y, frame.m[14] = eye.z;
        camera_from_frame(&frame);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        reference_plot(box);
        const std::vector<unsigned char> before = gl_test_pixels(0, 0, W, H);
        const std::vector<uint32_t> before_depth = read_depth(W, H);
        Comparison c;
        // The samples that pass the depth test while the crystal is drawn into a cleared picture.
        static GLuint query = 0;
        if (query == 0) glGenQueries(1, &query);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBeginQuery(GL_SAMPLES_PASSED, query);
        dendrite_plot(box);
        glEndQuery(GL_SAMPLES_PASSED);
        glGetQueryObjectuiv(query, GL_QUERY_RESULT, &c.passed);
        const std::vector<unsigned char> after = gl_test_pixels(0, 0, W, H);
        const std::vector<uint32_t> after_depth = read_depth(W, H);
        // One unit of red for each face at exactly the visible depth.
        glClear(GL_COLOR_BUFFER_BIT);
        glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT);
        glDisable(GL_TEXTURE_2D), glDisable(GL_LIGHTING), glDepthFunc(GL_EQUAL), glDepthMask(GL_FALSE);
        glEnable(GL_BLEND), glBlendFunc(GL_ONE, GL_ONE), glColor3ub(1, 0, 0);
        reference_plot(box, true);
        glPopAttrib();
        const std::vector<unsigned char> faces_at_depth = gl_test_pixels(0, 0, W, H);
        for (size_t p = 0; p < after_depth.size(); p++) {
            c.visible += after_depth[p] != DEPTH_FAR;
            if (std::equal(&before[3 * p], &before[3 * p + 3], &after[3 * p])) continue;
            c.differing++;
            const uint32_t was = before_depth[p], now = after_depth[p];
            const bool tie = was == now && faces_at_depth[3 * p] >= 2, lifted = was < now && now - was <= TIE;
            c.unexplained += !tie && !lifted;
        }
        return c;
    }

    static inline Dendrite* box = nullptr;
    static inline int steps = 0;
};

}  // namespace

TEST_F(Box, OneCellBoxSticksEveryParticleToTheSeedAtOnce) {
    box = dendrite_create(1, 1, 1, 3.0, nullptr);
    EXPECT_EQ(box->solute.count, 4u);
    dendrite_advance(box, 0.02);
    EXPECT_TRUE(box->solute.count == 0 && box->crystal.count == 1 && dendrite_cell(box, 0, 0, 0) == 1);
}

TEST_F(Box, StepOffTheEdgeWrapsButNothingAttachesAcrossTheWrap) {
    box = dendrite_create(5, 5, 5, 0.0, nullptr);
    crystallise(box, 4, 2, 2, 7);  // on the far face
    DynArray_clear(&box->solute);
    DynArray_push_value(&box->solute, CellPos{4, 2, 2});  // the only particle
    next_move_will_be(1);                                  // its next step: +x
    dendrite_advance(box, 0.02);
    ASSERT_EQ(box->solute.count, 1u);
    const CellPos p = DynArray_at<CellPos>(&box->solute, 0);
    EXPECT_TRUE(p.x == 0 && p.y == 2) << p.x << " " << p.y;
    EXPECT_EQ(box->crystal.count, 2u);
    EXPECT_EQ(dendrite_cell(box, 0, 2, 2), 0);
}

TEST_F(Box, GrowthKeepsGridAndCrystalListInStep) {
    box = dendrite_create(12, 12, 12, 0.3, nullptr);
    const uint32_t particles = box->solute.count;
    for (int i = 0; i < 300; i++) dendrite_advance(box, 0.02);
    // Every particle that left the solute stuck, though some stuck on the crystal itself.
    EXPECT_LT(box->solute.count, particles);
    EXPECT_GT(box->crystal.count, 10u);
    uint32_t filled = 0;
    for_each_cell(box, [&](int x, int y, int z) { filled += dendrite_cell(box, x, y, z) != 0; });
    EXPECT_EQ(filled, box->crystal.count);
    const CellPos* c = DynArray_items<CellPos>(&box->crystal);
    for (uint32_t i = 1; i < box->crystal.count; i++) EXPECT_GE(dendrite_cell(box, c[i].x, c[i].y, c[i].z), 2);
    expect_drawing_lists_every_open_face(box);
}

// Misses, grazing shots and bullets without a firing ship leave the crystal whole; a bullet
// crossing several cells removes only the first, scores one and leaves one explosion in the
// struck cell's colour.
using Chipping = WorldTest<GlTest>;  // chipping needs the explosion sprite, so a context
TEST_F(Chipping, BulletCrossingSeveralCellsRemovesOnlyTheFirstAndScoresOne) {
    Ship* ship = ship_create(100, 100, 100, world);
    Dendrite* box = dendrite_create(10, 10, 10, 0.0, world);
    crystallise(box, 1, 5, 5, 3), crystallise(box, 3, 5, 5, 4);
    const auto fly = [&](Vec3 a, Vec3 b, VNode* firer) {  // flew from a to b in the last frame
        Bullet* bullet = bullet_create(b.x, b.y, b.z, 50, 0, 0, firer, world);
        bullet->start_centre = a;
        VNode_begin_deferral();
        dendrite_collide(box, bullet);
        VNode_end_deferral();
        return bullet;
    };
    Bullet* grazing = fly(Vec3{0.5, 0.5, 0.5}, Vec3{9.5, 0.5, 0.5}, ship);
    EXPECT_FALSE(grazing->spent);
    VNode_remove(grazing);
    fly(Vec3{1.5, 5.5, 5.5}, Vec3{1.6, 5.5, 5.5}, nullptr);
    EXPECT_EQ(dendrite_cell(box, 1, 5, 5), 3);
    EXPECT_EQ(ship->score, 0.0);
    crystallise(box, 1, 6, 5, 4);  // above the first cell: it gains a face when that goes
    const uint32_t children = VNode_child_count(world);
    fly(Vec3{1.5, 5.5, 5.5}, Vec3{9.5, 5.5, 5.5}, ship);  // samples at x 1.5, 3.1, 4.7 ...
    EXPECT_EQ((std::array<int, 3>{dendrite_cell(box, 1, 5, 5), dendrite_cell(box, 3, 5, 5), dendrite_cell(box, 5, 5, 5)}),
              (std::array<int, 3>{0, 4, 1}));
    EXPECT_EQ(box->crystal.count, 3u);
    EXPECT_TRUE(ship->score == 1.0 && ship->hits == 1) << ship->score << " " << ship->hits;
    expect_drawing_lists_every_open_face(box);
    ASSERT_EQ(VNode_child_count(world), children + 1);
    const VNode* last = VNode_child(world, children);
    ASSERT_EQ(last->type, &splode_type);
    float r, g, b;
    dendrite_colour(box, 3, &r, &g, &b);
    const Splode* e = static_cast<const Splode*>(last);
    EXPECT_EQ(e->particles[0].colour[0], static_cast<uint8_t>(255.9f * r));
    EXPECT_NEAR(e->world_centre.x, 1.5, 1e-12);
}

// The default box grown as the game grows it, seen from views that cut into cells or put the eye
// in the planes of faces; the solute is blended over it in the same order, and outlines do not
// change at all. The samples that pass the depth test are the pixels covered, each textured once
// (from the ship start up to 2 % more).
TEST_F(CrystalPictures, SameAsEveryFaceDrawnExceptDepthTies) {
    constexpr int ANY = -1;  // samples not compared: blended solute, outlines
    // overdraw: samples passed beyond the visible pixels, in per cent of them
    const struct { const char* name; Vec3 eye; unsigned char solute; GLenum polygons; int overdraw; } views[] = {
        {"ship start", {20, 20, 20}, 0, GL_FILL, 2}, {"inside the seed", {25.5, 25.5, 25.5}, 0, GL_FILL, 0},
        {"outside the box", {25, 30, 95}, 0, GL_FILL, 0}, {"box corner", {2.5, 47.5, 48.5}, 0, GL_FILL, 0},
        {"on cell corners", {40, 10, 45}, 0, GL_FILL, 0}, {"on the box's face", {10, 40, 50}, 0, GL_FILL, 0},
        {"solute from the ship start", {20, 20, 20}, 1, GL_FILL, ANY},
        {"wireframe from the ship start", {20, 20, 20}, 0, GL_LINE, ANY}};
    const uint32_t allowed = W * H / 10000;  // 0.01 %
    for (int n : {600, 1800, 3600}) {
        grow_to(n);
        for (const auto& v : views) {
            SCOPED_TRACE(testing::Message() << v.name << " after " << n << " steps");
            show_solute = v.solute;
            glPolygonMode(GL_FRONT_AND_BACK, v.polygons);
            const Comparison c = compare_from(v.eye);
            glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
            EXPECT_EQ(c.unexplained, 0u);
            EXPECT_LE(c.differing, v.polygons == GL_FILL ? allowed : 0u);
            if (v.overdraw != ANY) {
                EXPECT_GT(c.visible, W * H / 100);
                EXPECT_LE(c.passed, c.visible + c.visible * v.overdraw / 100);
            }
            std::printf("%s after %d steps: %u of %u pixels differ, %u samples passed for %u visible\n", v.name, n,
                        c.differing, W * H, c.passed, c.visible);
        }
    }
}
