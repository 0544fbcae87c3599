// The collision pass over scenes of a few thousand moving spheres.

#include <benchmark/benchmark.h>

#include "foundation/random.h"
#include "scene/advance.h"
#include "scene/collide.h"

namespace {

uint64_t contacts = 0;

void sphere_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    frame_translate(&t->frame->current, t->velocity.x * dt, t->velocity.y * dt, t->velocity.z * dt);
}
void sphere_collide(VNode*, VNode*) { contacts++; }

const ThingType sphere_type = {"Sphere", sizeof(Thing), sphere_advance, nullptr, sphere_collide, nullptr};

double uniform(double lo, double hi) { return lo + random_real(hi - lo); }

// count spheres in a cube of side 400: mostly small and slow, one in twenty
// large, one in twenty fast. mixed = false makes them all small and slow.
VNode* make_scene(int count, bool mixed) {
    zibu_rand_reset(1);
    VNode* world = World_create(0, 0, 0, nullptr);
    for (int i = 0; i < count; i++) {
        Thing* t = VNode_create_thing(&sphere_type, world);
        VNode_take_frame(t, nullptr);
        frame_translate(&t->frame->current, uniform(-200, 200), uniform(-200, 200), uniform(-200, 200));
        int kind = mixed ? random_int(20) : 19;
        t->bound.radius = kind == 0 ? uniform(5, 20) : uniform(0.2, 2);
        double speed = kind == 1 ? 3 : 0.1;  // units per cycle of 1/60 s: 180 or 6 per second
        t->velocity = Vec3{uniform(-speed, speed), uniform(-speed, speed), uniform(-speed, speed)};
    }
    VNode_advance_tree(world, 0.0);
    VNode_remember_frames(world);
    VNode_advance_tree(world, 1.0);
    return world;
}

void collide_scene(benchmark::State& state, bool mixed) {
    VNode* world = make_scene(static_cast<int>(state.range(0)), mixed);
    VNode_collide(world);  // the pool reaches its size before timing
    contacts = 0;
    for (auto _ : state) VNode_collide(world);
    CollideStats st = collide_stats();
    state.counters["contacts"] = static_cast<double>(contacts) / static_cast<double>(state.iterations());
    state.counters["cells"] = st.cells_used;
    state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
    VNode_destroy(world);
}

void BM_collide_mixed(benchmark::State& state) { collide_scene(state, true); }
void BM_collide_small(benchmark::State& state) { collide_scene(state, false); }

}  // namespace

BENCHMARK(BM_collide_mixed)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_collide_small)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMicrosecond);
