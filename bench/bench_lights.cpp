// The light tree at the size of the lit scene: 7442 point lights on two
// wavy sheets, rebuilt before every plot, then a choice per opaque thing.

#include <benchmark/benchmark.h>

#include <cmath>

#include "foundation/random.h"
#include "scene/lights.h"

namespace {

void add_scene_lights(LightTree* tree) {
    const float step = 0.1f;
    const float weight = 0.3f * step * step;
    for (float u = 0.0f; u <= 6.001f; u += step) {
        for (float v = 0.0f; v <= 6.001f; v += step) {
            float h = 0.2f * std::sin(u) + 0.2f * std::sin(v);
            LightTree_add_leaf(tree, 10 * v, 10 * (h + 2), 10 * u, 0.4f, 0.1f * u + 0.6f, 1.0f, weight);
            LightTree_add_leaf(tree, v + 25, 10 * (h + 1), u, 1.0f, 0.3f, 0.0f, weight);
        }
    }
}

void BM_LightTreeBuild(benchmark::State& state) {
    LightTree tree;
    LightTree_init(&tree);
    for (auto _ : state) {
        LightTree_clear(&tree);
        add_scene_lights(&tree);
        benchmark::DoNotOptimize(LightTree_build(&tree));
    }
    state.counters["lights"] = static_cast<double>((tree.entries.count + 1) / 2);
    LightTree_free(&tree);
}
BENCHMARK(BM_LightTreeBuild)->Unit(benchmark::kMicrosecond);

// Things spread over and around the sheets (x 0..60, y 0..40, z -20..80).
// The argument is the number of library lights to merge down to.
void BM_LightsChoosePerThing(benchmark::State& state) {
    LightTree tree;
    LightTree_init(&tree);
    add_scene_lights(&tree);
    LightTree_build(&tree);
    const int things = 256;
    Vec3f at[things];
    zibu_rand_reset();
    for (Vec3f& p : at) {
        p = Vec3f{static_cast<float>(random_real(60.0)), static_cast<float>(random_real(40.0)),
                  static_cast<float>(random_real(100.0) - 20.0)};
    }
    DynArray chosen;
    DynArray_init_of<Light>(&chosen);
    int32_t limit = static_cast<int32_t>(state.range(0));
    uint64_t cut_total = 0;
    int k = 0;
    for (auto _ : state) {
        const Vec3f& p = at[k++ % things];
        chosen.count = 0;
        LightTree_query(&tree, static_cast<int32_t>(tree.entries.count) - 1, p,
                        LIGHT_CUT_THRESHOLD, &chosen);
        cut_total += chosen.count;
        lights_merge(&chosen, p, limit);
        benchmark::DoNotOptimize(chosen.data);
    }
    state.counters["cut_size"] = static_cast<double>(cut_total) / static_cast<double>(state.iterations());
    DynArray_free(chosen);
    LightTree_free(&tree);
}
BENCHMARK(BM_LightsChoosePerThing)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace
