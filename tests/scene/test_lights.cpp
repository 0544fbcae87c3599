#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/lights.h"
#include "support/gl_context.h"

namespace {

Light make_light(float x, float y, float z, float weight) {
    return Light{{x, y, z}, {1.0f, 1.0f, 1.0f}, weight, 0.0f};
}

class LightTreeTest : public testing::Test {
protected:
    void SetUp() override {
        LightTree_init(&tree);
        DynArray_init_of<Light>(&out);
    }
    void TearDown() override {
        LightTree_free(&tree);
        DynArray_free(out);
    }
    void add(float x, float y, float z, float weight) {
        LightTree_add_leaf(&tree, x, y, z, 1.0f, 1.0f, 1.0f, weight);
    }
    std::vector<Light> query(Vec3f p) {
        out.count = 0;
        LightTree_query(&tree, static_cast<int32_t>(tree.entries.count) - 1, p,
                        LIGHT_CUT_THRESHOLD, &out);
        return result();
    }
    std::vector<Light> result() const {
        Light* l = DynArray_items<Light>(&out);
        return std::vector<Light>(l, l + out.count);
    }
    // Every leaf reached once, each box enclosing its children's.
    void check_tree(int32_t root, int32_t leaves) const {
        ASSERT_EQ(root, 2 * leaves - 2);
        ASSERT_EQ(tree.lights.count, static_cast<uint32_t>(2 * leaves - 1));
        std::vector<int> reached(tree.entries.count, 0), stack{root};
        while (!stack.empty()) {
            const LightEntry& e = DynArray_at<LightEntry>(&tree.entries, stack.back());
            reached[stack.back()]++;
            stack.pop_back();
            for (int32_t c : {e.left, e.right}) {
                if (e.left < 0) break;
                const LightEntry& ce = DynArray_at<LightEntry>(&tree.entries, c);
                for (int a = 0; a < 3; a++) EXPECT_TRUE(e.lo[a] <= ce.lo[a] && e.hi[a] >= ce.hi[a]);
                stack.push_back(c);
            }
        }
        for (int k : reached) EXPECT_EQ(k, 1);
    }

    LightTree tree;
    DynArray out;
};

float total_weight(const std::vector<Light>& lights) {
    float w = 0.0f;
    for (const Light& l : lights) w += l.weight;
    return w;
}

}  // namespace

TEST_F(LightTreeTest, OneLeafIsTheRootAndEveryThingsLight) {
    EXPECT_EQ(LightTree_build(&tree), -1);  // no leaves, no tree
    add(3, 4, 5, 2);
    int32_t root = LightTree_build(&tree);
    EXPECT_EQ(root, 0);
    EXPECT_EQ(tree.entries.count, 1u);
    for (Vec3f p : {Vec3f{3, 4, 5}, Vec3f{-100, 0, 0}}) {
        lights_select(&tree, p, 8, &out);
        ASSERT_EQ(out.count, 1u);
        EXPECT_EQ(result()[0].pos.y, 4.0f);
        EXPECT_EQ(result()[0].weight, 2.0f);
    }
}

TEST_F(LightTreeTest, FarGroupIsOneClusterNearGroupIsEveryLight) {
    add(100.0f, 0.0f, 0.0f, 1);
    add(100.5f, 0.0f, 0.0f, 2);
    add(100.0f, 0.5f, 0.0f, 3);
    add(100.0f, 0.0f, 0.5f, 4);
    check_tree(LightTree_build(&tree), 4);

    std::vector<Light> far = query(Vec3f{0, 0, 0});
    ASSERT_EQ(far.size(), 1u);
    EXPECT_FLOAT_EQ(far[0].weight, 10.0f);
    EXPECT_NEAR(far[0].pos.x, (100.0f * 8 + 100.5f * 2) / 10, 1e-4);
    EXPECT_NEAR(far[0].pos.y, 0.5f * 3 / 10, 1e-6);
    EXPECT_NEAR(far[0].pos.z, 0.5f * 4 / 10, 1e-6);

    // From inside the group no cluster is small against its distance.
    std::vector<Light> near = query(Vec3f{100.1f, 0.1f, 0.1f});
    EXPECT_EQ(near.size(), 4u);
    for (const Light& l : near) EXPECT_EQ(l.spread, 0.0f);
}

TEST_F(LightTreeTest, ScatteredLightsBuildASoundTreeAndEveryCutCoversThemAll) {
    zibu_rand_reset();
    const int n = 300;
    float total = 0.0f;
    for (int k = 0; k < n; k++) {
        float w = static_cast<float>(random_real(1.0) + 0.1);
        add(static_cast<float>(random_real(50.0)), static_cast<float>(random_real(10.0)),
            static_cast<float>(random_real(30.0)), w);
        total += w;
    }
    check_tree(LightTree_build(&tree), n);
    for (Vec3f p : {Vec3f{25, 5, 15}, Vec3f{-200, 0, 0}, Vec3f{0, 0, 60}}) {
        std::vector<Light> cut = query(p);
        EXPECT_NEAR(total_weight(cut), total, total * 1e-5f);
        lights_select(&tree, p, 8, &out);
        EXPECT_LE(out.count, 8u);
        EXPECT_NEAR(total_weight(result()), total, total * 1e-5f);
    }
}

TEST_F(LightTreeTest, LightsAtOnePositionStillBuild) {
    for (int k = 0; k < 5; k++) add(1, 2, 3, 1);
    add(1.0f, 2.0f, 3.0000002f, 1);  // the next float: the midpoint is no split
    add(9, 2, 3, 1);
    check_tree(LightTree_build(&tree), 7);

    std::vector<Light> far = query(Vec3f{-500, 0, 0});
    ASSERT_EQ(far.size(), 1u);
    EXPECT_FLOAT_EQ(far[0].weight, 7.0f);
    // At the shared position the distance is zero, so every leaf comes back.
    EXPECT_EQ(query(Vec3f{1, 2, 3}).size(), 7u);
}

TEST_F(LightTreeTest, TenLightsIntoEightMergeTheCheapestPairTwice) {
    // Seen from the origin: A and B are almost one direction, so they merge
    // first. Afterwards (A+B) with C would cost more than D with E, although
    // B with C alone would have cost less: a stale cost picks the wrong pair.
    // D, last in the list, moves into A's slot and must take its own costs
    // along (A with C would also undercut D with E).
    const Light A = make_light(10, 0, 0, 1), B = make_light(10, 0.1f, 0, 1);
    const Light C = make_light(10, 0.45f, 0, 1);
    const Light D = make_light(0, 0, 10, 1), E = make_light(0.4f, 0, 10, 1);
    const Light others[] = {make_light(-10, 0, 0, 1), make_light(0, -10, 0, 1),
                            make_light(0, 0, -10, 1), make_light(0, 10, 0, 1),
                            make_light(-7, -7, 0, 1)};
    const Light in[10] = {others[0], others[1], A, C, others[2], B, others[3], E, others[4], D};
    for (const Light& l : in) DynArray_push_value(&out, l);

    EXPECT_EQ(lights_merge(&out, Vec3f{0, 0, 0}, 8), 2);
    std::vector<Light> got = result();
    ASSERT_EQ(got.size(), 8u);

    std::vector<Light> expected(std::begin(others), std::end(others));
    expected.push_back(C);
    expected.push_back(make_light(10, 0.05f, 0, 2));
    expected.push_back(make_light(0.2f, 0, 10, 2));
    for (const Light& e : expected) {
        int matches = 0;
        for (const Light& g : got) {
            if (vec3f_dist(g.pos, e.pos) < 1e-5f && g.weight == e.weight) matches++;
        }
        EXPECT_EQ(matches, 1) << e.pos.x << " " << e.pos.y << " " << e.pos.z;
    }
    // Nothing to do when the list already fits.
    EXPECT_EQ(lights_merge(&out, Vec3f{0, 0, 0}, 8), 0);
}

TEST_F(LightTreeTest, MergeNeverPutsALightOnTheThingItself) {
    // Lights 0 and 1 straddle the thing: their mean would sit on it.
    for (Light l : {make_light(1, 0, 0, 1), make_light(-1, 0, 0, 1), make_light(0, 5, 0, 1)})
        DynArray_push_value(&out, l);
    lights_merge(&out, Vec3f{0, 0, 0}, 2);
    ASSERT_EQ(out.count, 2u);
    for (const Light& l : result()) EXPECT_GT(vec3f_len(l.pos), 0.5f);

    // A light on the thing itself stays as it is; the other two merge.
    out.count = 0;
    for (Light l : {make_light(0, 0, 0, 1), make_light(5, 0, 0, 1), make_light(5, 1, 0, 1)})
        DynArray_push_value(&out, l);
    lights_merge(&out, Vec3f{0, 0, 0}, 2);
    ASSERT_EQ(out.count, 2u);
    EXPECT_EQ(result()[0].pos.x, 0.0f);
    EXPECT_FLOAT_EQ(result()[1].weight, 2.0f);
}

namespace {

class LibraryLights : public GlTest {
protected:
    void TearDown() override {
        lights_off();
        light_tree_off();
    }
};

GLfloat light_value(int32_t light, GLenum what) {
    GLfloat v[4] = {};
    glGetLightfv(static_cast<GLenum>(light), what, v);
    return v[0];
}

}  // namespace

TEST_F(LibraryLights, PointLightsBeyondTheLibrarysCountChangeNothing) {
    lights_start();
    ASSERT_GE(max_lights, 8);
    lights_off();
    for (int32_t k = 0; k <= max_lights; k++)
        light_point(static_cast<float>(k), 0, 0, 1, 1, 1, static_cast<float>(k + 1));
    EXPECT_EQ(next_light, GL_LIGHT0 + max_lights);
    int32_t last = GL_LIGHT0 + max_lights - 1;
    EXPECT_TRUE(glIsEnabled(static_cast<GLenum>(last)));
    EXPECT_EQ(light_value(last, GL_POSITION), static_cast<float>(max_lights - 1));
    EXPECT_FLOAT_EQ(light_value(last, GL_LINEAR_ATTENUATION), 1.0f / static_cast<float>(max_lights));
    EXPECT_EQ(light_value(last, GL_CONSTANT_ATTENUATION), 0.0f);

    lights_off();
    EXPECT_EQ(next_light, GL_LIGHT0);
    for (int32_t l = GL_LIGHT0; l <= last; l++) EXPECT_FALSE(glIsEnabled(static_cast<GLenum>(l)));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LibraryLights, TreeDrawnOnTopLeavesDepthAndLightingAsTheyWere) {
    lights_start();
    light_tree_on();
    light_tree_begin();
    light_tree_add(0, 0, -5, 1, 0, 0, 100);  // a cube one unit wide
    light_tree_add(3, 0, -5, 1, 0, 0, 1);
    light_tree_end();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthFunc(GL_LEQUAL);
    light_tree_draw(1);
    GLint depth_func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depth_func);
    EXPECT_EQ(depth_func, GL_LEQUAL);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2 + 20), 0xFF0000u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The scene gives the tree its lights again before every plot: the same
// lights keep the tree that a build over them gives, and any change (a light
// moved, one fewer, the first ones back) gives the tree of the new lights.
TEST_F(LightTreeTest, SceneTreeFollowsItsLights) {
    zibu_rand_reset(5);
    std::vector<Light> lights;
    for (int k = 0; k < 200; k++) {
        lights.push_back(make_light(static_cast<float>(random_real(50.0)), static_cast<float>(random_real(10.0)),
                                    static_cast<float>(random_real(30.0)), static_cast<float>(random_real(1.0) + 0.1)));
    }
    std::vector<Light> moved = lights, fewer(lights.begin(), lights.end() - 1);
    moved[57].pos.x += 1.0f;
    light_tree_on();
    for (const std::vector<Light>* given : {&lights, &lights, &moved, &fewer, &lights}) {
        light_tree_begin();
        for (const Light& l : *given) light_tree_add(l.pos.x, l.pos.y, l.pos.z, 1, 1, 1, l.weight);
        light_tree_end();
        LightTree_clear(&tree);
        for (const Light& l : *given) add(l.pos.x, l.pos.y, l.pos.z, l.weight);
        LightTree_build(&tree);
        for (const DynArray* a : {&light_tree.entries, &light_tree.lights}) {
            const DynArray* b = a == &light_tree.entries ? &tree.entries : &tree.lights;
            ASSERT_EQ(a->count, b->count);
            EXPECT_EQ(std::memcmp(a->data, b->data, std::size_t{a->count} * a->elem_size), 0);
        }
    }
    light_tree_off();
}

namespace {

uint64_t fnv(uint64_t hash, const void* data, std::size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; i++) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

}  // namespace

// The lights chosen for many places around two sheets of lights, near and
// far (cuts of 3 to 95 lights), some right on a light, and the merges of a
// lattice around the thing, rich in equal costs: as a count and a hash of
// their bits, the choice stays the one first recorded, bit for bit.
TEST_F(LightTreeTest, ChoiceStaysAsRecorded) {
    zibu_rand_reset(3);
    auto uniform = [](float lo, float hi) { return lo + static_cast<float>(random_real(hi - lo)); };
    for (int k = 0; k < 2500; k++) {
        bool wide = k % 2 == 0;
        float x = wide ? uniform(0, 60) : uniform(25, 31), z = wide ? uniform(0, 60) : uniform(0, 6);
        float y = (wide ? 20.0f : 10.0f) + uniform(-2, 2);
        LightTree_add_leaf(&tree, x, y, z, uniform(0, 1), uniform(0, 1), uniform(0, 1), uniform(0.001f, 0.01f));
    }
    LightTree_build(&tree);
    uint64_t hash = 0xCBF29CE484222325ull;
    uint64_t lights = 0;
    for (int k = 0; k < 600; k++) {
        Vec3f p = k % 3 == 0 ? Vec3f{uniform(-20, 80), uniform(-20, 60), uniform(-20, 80)}
                  : k % 3 == 1 ? Vec3f{uniform(0, 60), uniform(19, 26), uniform(0, 60)}
                               : Vec3f{uniform(24, 32), uniform(8, 14), uniform(-1, 7)};
        if (k % 50 == 0) p = DynArray_at<Light>(&tree.lights, static_cast<uint32_t>(k)).pos;  // on a light
        lights_select(&tree, p, 8, &out);
        lights += out.count;
        hash = fnv(hash, out.data, out.count * sizeof(Light));
    }
    for (int limit : {8, 5, 1}) {
        out.count = 0;
        for (int k = 0; k < 27; k++) {
            Light l = make_light(static_cast<float>(k % 3 - 1), static_cast<float>(k / 3 % 3 - 1), static_cast<float>(k / 9 - 1), 1);
            DynArray_push_value(&out, l);  // the middle one sits on the thing
        }
        lights_merge(&out, Vec3f{0, 0, 0}, limit);
        lights += out.count;
        hash = fnv(hash, out.data, out.count * sizeof(Light));
    }
    EXPECT_EQ(lights, 4399u);
    EXPECT_EQ(hash, 14980519980001952812ull);
}
