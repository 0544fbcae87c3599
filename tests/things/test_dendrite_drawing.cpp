// The crystal is drawn nearest faces first, without those turned away from the eye: held to the
// plain drawing kept here as the reference, the same pixels, and no pixel textured twice.
#define GL_GLEXT_PROTOTYPES 1

#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/camera.h"
#include "foundation/random.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "support/gl_context.h"
#include "things/dendrite.h"

namespace {

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

// The camera at eye, looking along -z as the ship does when it starts.
void look_from(Vec3 eye) {
    Mat4 frame = mat4_identity();
    frame.m[12] = eye.x, frame.m[13] = eye.y, frame.m[14] = eye.z;
    camera_from_frame(&frame);
}

// Pixels that differ from the reference, and those of them no depth tie explains (compare_from).
struct Comparison {
    uint32_t differing = 0;
    uint32_t unexplained = 0;
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
        look_from(eye);
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

    static Dendrite* box;
    static int steps;
};
Dendrite* CrystalPictures::box = nullptr;
int CrystalPictures::steps = 0;

// The default box grown as the game grows it, seen from views that cut into cells or put the eye
// in the planes of faces; the solute is blended over it in the same order, and outlines do not
// change at all. The samples that pass the depth test are the pixels covered, each textured once
// (from the ship start up to 2 % more).
TEST_F(CrystalPictures, SameAsEveryFaceDrawnExceptDepthTies) {
    constexpr int ANY = -1;  // samples not compared: blended solute, outlines
    const struct {
        const char* name;
        Vec3 eye;
        unsigned char solute;
        GLenum polygons;
        int overdraw;  // samples passed beyond the visible pixels, in per cent of them
    } views[] = {{"ship start", {20, 20, 20}, 0, GL_FILL, 2},
                 {"inside the seed", {25.5, 25.5, 25.5}, 0, GL_FILL, 0},
                 {"outside the box", {25, 30, 95}, 0, GL_FILL, 0},
                 {"box corner", {2.5, 47.5, 48.5}, 0, GL_FILL, 0},
                 {"on cell corners", {40, 10, 45}, 0, GL_FILL, 0},
                 {"on the box's face", {10, 40, 50}, 0, GL_FILL, 0},
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

}  // namespace
