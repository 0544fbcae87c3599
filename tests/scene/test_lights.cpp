#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "foundation/random.h"
#include "platform/opengl.h"
#include "scene/lights.h"
#include "support/gl_context.h"

namespace {

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

// A and B merge first; then (A+B) with C costs more than D with E, though B
// with C alone was cheaper: a stale cost picks the wrong pair. D, moved into
// A's slot, must take its own costs along (A with C would undercut D with E).
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
    auto uniform = [](float lo, float hi) { return lo + static_cast<float>(random_real(hi - lo)); };
    for (int k = 0; k < 2500; k++) {
        bool wide = k % 2 == 0;
        float x = wide ? uniform(0, 60) : uniform(25, 31), z = wide ? uniform(0, 60) : uniform(0, 6);
        float y = (wide ? 20.0f : 10.0f) + uniform(-2, 2);
        LightTree_add_leaf(&tree, x, y, z, uniform(0, 1), uniform(0, 1), uniform(0, 1), uniform(0.001f, 0.01f));
    }
    LightTree_build(&tree);
    uint64_t hash = 0xCBF29CE484222325ull, lights = 0;
    auto fold = [&] {  // FNV-1a over the chosen lights' bytes
        const unsigned char* bytes = static_cast<const unsigned char*>(out.data);
        for (std::size_t i = 0; i < out.count * sizeof(Light); i++) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
        lights += out.count;
    };
    for (int k = 0; k < 600; k++) {
        Vec3f p = k % 3 == 0 ? Vec3f{uniform(-20, 80), uniform(-20, 60), uniform(-20, 80)}
                  : k % 3 == 1 ? Vec3f{uniform(0, 60), uniform(19, 26), uniform(0, 60)}
                               : Vec3f{uniform(24, 32), uniform(8, 14), uniform(-1, 7)};
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
