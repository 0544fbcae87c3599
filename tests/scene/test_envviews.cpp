#include <array>
#include <initializer_list>
#include <cstring>
#include <vector>

#include "foundation/camera.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "scene/advance.h"
#include "scene/envviews.h"
#include "scene/plot.h"
#include "support/gl_context.h"

namespace {

constexpr double PI = 3.14159265358979323846;

// A white ball of its bounding radius, unlit, seen alike from every side.
void ball_plot(VNode* node) {
    glDisable(GL_LIGHTING);
    sphere(0.0, 0.0, 0.0, node->bound.radius, 0xFFFFFF, 12);
}
const ThingType ball_type = {"Ball", sizeof(VNode), nullptr, ball_plot, nullptr, nullptr};
const ThingType viewer_type = {"Viewer", sizeof(VNode), nullptr, nullptr, nullptr, nullptr};

struct GlView {
    std::array<GLdouble, 16> projection, modelview;
    std::array<GLint, 4> viewport;
    GLint projection_depth, modelview_depth;
    bool operator==(const GlView&) const = default;
};

GlView gl_view() {
    GlView v{};
    glGetDoublev(GL_PROJECTION_MATRIX, v.projection.data());
    glGetDoublev(GL_MODELVIEW_MATRIX, v.modelview.data());
    glGetIntegerv(GL_VIEWPORT, v.viewport.data());
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &v.projection_depth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &v.modelview_depth);
    return v;
}

bool white(unsigned rgb) { return rgb == 0xFFFFFF; }

class EnvViews : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        world = World_create(0, 0, 0, nullptr);
        world->bound.radius = 1e6;
        viewer = VNode_create(&viewer_type, nullptr);
        Mat4 at = mat4_identity();  // at the origin, looking along -z
        VNode_take_frame(viewer, &at);
        ball = VNode_create(&ball_type, world);
        ball->bound.radius = 3.0;
        VNode_take_frame(ball, &at);
        VNode_reset_counters();
    }
    void TearDown() override {
        VNode_destroy(world);
        VNode_destroy(viewer);
    }
    void put_ball(double x, double y, double z) {
        double* t = ball->frame->current.m + 12;
        t[0] = x, t[1] = y, t[2] = z;
        VNode_remember_frames(world);
    }
    // The centre texel of each face of a cube map, white or not.
    std::array<bool, 6> white_faces(GLuint texture, int size) {
        std::array<bool, 6> out{};
        std::vector<unsigned char> texels(3 * size * size);
        glBindTexture(GL_TEXTURE_CUBE_MAP, texture);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        for (int face = 0; face < 6; face++) {
            glGetTexImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_RGB, GL_UNSIGNED_BYTE,
                          texels.data());
            const unsigned char* c = &texels[3 * (size / 2 * size + size / 2)];
            out[face] = c[0] > 200 && c[1] > 200 && c[2] > 200;
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        return out;
    }
    VNode* world = nullptr;
    VNode* viewer = nullptr;
    VNode* ball = nullptr;
};

TEST_F(EnvViews, AThingAheadShowsOnlyInFaceZeroAndOneBehindOnlyInFaceFiveLeavingTheViewAsFound) {
    struct Case {
        double z;
        int face;
    } cases[] = {{-10.0, 0}, {10.0, 5}};
    for (const Case& c : cases) {
        put_ball(0.0, 0.0, c.z);
        for (int face = 0; face < 6; face++) {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            const GlView before = gl_view();
            const Mat4 camera_before = g_camera.view;
            VNode_reset_counters();
            face_view(world, viewer, 100, 100, 64, 64, face);
            EXPECT_TRUE(gl_view() == before) << "face " << face;
            EXPECT_EQ(std::memcmp(&g_camera.view, &camera_before, sizeof(Mat4)), 0);
            EXPECT_EQ(things_plotted, face == c.face ? 1u : 0u) << "z " << c.z << " face " << face;
            // Drawn into its square only.
            EXPECT_EQ(white(gl_test_pixel(132, 132)), face == c.face) << "face " << face;
            EXPECT_FALSE(white(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2)));
        }
    }
}

TEST_F(EnvViews, EachDirectionLandsInItsOwnCubeFaceAlsoWhenTheTextureIsReused) {
    const int size = 64;
    // +x, -x, +y, -y, +z, -z: the order of the cube map's faces.
    const double dirs[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    GLuint texture = 0;
    for (int d = 0; d < 6; d++) {
        put_ball(5 + 10 * dirs[d][0], 10 * dirs[d][1], 10 * dirs[d][2]);
        const GlView before = gl_view();
        const GLuint got = env_cube_capture(world, 5, 0, 0, size, texture);
        EXPECT_TRUE(gl_view() == before);
        EXPECT_TRUE(texture == 0 || got == texture);
        texture = got;
        const std::array<bool, 6> faces = white_faces(texture, size);
        for (int face = 0; face < 6; face++) {
            EXPECT_EQ(faces[face], face == d) << "direction " << d << " face " << face;
        }
    }
    glDeleteTextures(1, &texture);
}

TEST_F(EnvViews, CubeMapIsCapturedOnceAndKeptWhenTheWorldChanges) {
    put_ball(0.0, 0.0, 10.0);
    const uint32_t first = env_cube_map(world, 0, 0, 0);
    put_ball(10.0, 0.0, 0.0);
    EXPECT_EQ(env_cube_map(world, 0, 0, 0), first);
    const std::array<bool, 6> faces = white_faces(first, 512);
    EXPECT_TRUE(faces[4]);   // +z, as first seen
    EXPECT_FALSE(faces[0]);  // +x, where the ball is now
}

TEST_F(EnvViews, SphereMirrorsWhatLiesBehindTheViewerAndRestoresTheState) {
    // The viewer turned to look along -x; the ball lies behind it, on the far side of the
    // sphere's centre, so the middle of the sphere mirrors the ball.
    frame_rotate_y(&viewer->frame->current, PI / 2);
    put_ball(10.0, 0.0, 0.0);
    const GLuint texture = env_cube_capture(world, -10, 0, 0, 64, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    camera_from_frame(&viewer->frame->current);
    glEnable(GL_LIGHTING);
    env_sphere(-10.0f, 0.0f, 0.0f, 2.0f, texture);
    EXPECT_TRUE(white(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2)));

    GLdouble texture_matrix[16];
    glGetDoublev(GL_TEXTURE_MATRIX, texture_matrix);
    const Mat4 identity = mat4_identity();
    EXPECT_EQ(std::memcmp(texture_matrix, identity.m, sizeof texture_matrix), 0);
    for (GLenum cap : {GL_TEXTURE_CUBE_MAP, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R}) {
        EXPECT_FALSE(glIsEnabled(cap)) << cap;
    }
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    glDeleteTextures(1, &texture);
}

}  // namespace
