#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/camera.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "scene/advance.h"
#include "scene/envviews.h"
#include "scene/plot.h"
#include "support/gl_context.h"

namespace {

void ball_plot(VNode* node) {
    glDisable(GL_LIGHTING);
    sphere(0.0, 0.0, 0.0, node->bound.radius, 0xFFFFFF, 12);
}
const ThingType ball_type = {"Ball", sizeof(VNode), nullptr, ball_plot, nullptr, nullptr};

// The OpenGL state a view must leave as found, and the camera's view.
std::string view_state() {
    std::ostringstream s;
    s.precision(17);
    s << gl_test_state() << "camera";
    for (double v : g_camera.view.m) s << " " << v;
    return s.str();
}

bool white(unsigned rgb) { return rgb == 0xFFFFFF; }

// A world holding one ball; the viewer (outside the tree) at the origin looks along -z.
class EnvViews : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        world->bound.radius = 1e6, ball->bound.radius = 3.0;
        const Mat4 at = mat4_identity();
        VNode_take_frame(viewer, &at), VNode_take_frame(ball, &at);
    }
    void TearDown() override { VNode_destroy(world), VNode_destroy(viewer); }
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
    VNode* world = World_create(0, 0, 0, nullptr);
    VNode* viewer = World_create(0, 0, 0, nullptr);
    VNode* ball = VNode_create(&ball_type, world);
};

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

}  // namespace
