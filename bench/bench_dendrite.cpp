// The main thread's part of drawing the crystal: building its face list, nearest cells first,
// for the default box grown as the game grows it, whenever the eye moves into another cell.

#include <benchmark/benchmark.h>

#include "foundation/random.h"
#include "things/dendrite.h"

namespace {

void BM_crystal_faces(benchmark::State& state) {
    zibu_rand_reset();
    Dendrite* box = dendrite_create(50, 50, 50, 0.05, nullptr);
    for (int64_t i = 0; i < state.range(0); i++) dendrite_advance(box, 1.0 / 60.0);
    // Two eyes a cell apart, so that every call builds the list again.
    const Vec3 eyes[2] = {{20.0, 20.0, 20.0}, {20.5, 21.5, 20.5}};
    int k = 0;
    for (auto _ : state) {
        dendrite_faces_update(box, eyes[k ^= 1], FaceChoice::facing);
        benchmark::DoNotOptimize(box->drawing.faces);
    }
    state.counters["cells"] = box->crystal.count;
    state.counters["faces"] = box->drawing.faces;
    VNode_destroy(box);
}
BENCHMARK(BM_crystal_faces)->Arg(600)->Arg(1800)->Arg(3600)->Unit(benchmark::kMicrosecond);

}  // namespace
