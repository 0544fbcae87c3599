// The collision pass beside Bullet's dynamic AABB tree, on the same moving
// spheres. Bullet only finds the pairs whose swept boxes overlap, so its
// frame also runs the pass's swept-sphere test on each pair; both read the
// same nodes. One benchmark iteration is one frame: the spheres move (not
// timed), then the pairs of the frame are found (timed).
//
//   BM_collide_zibu/<slow|fast>/<N>     VNode_collide
//   BM_collide_bullet/<slow|fast>/<N>   setAabb of every swept box,
//                                       calculateOverlappingPairs, swept test

#include <benchmark/benchmark.h>
#include <btBulletCollisionCommon.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "collide_scene.h"

namespace {

using collide_scene::ball_advance;
using collide_scene::next_frame;

uint64_t collide_calls = 0;
void ball_collide(VNode*, VNode*) { collide_calls++; }

const ThingType ball_type = {"Ball", sizeof(Thing), ball_advance, nullptr, ball_collide, nullptr};

VNode* make_scene(int count, bool fast) { return collide_scene::make_scene(count, fast, &ball_type); }

int ball_count(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

void report(benchmark::State& state, uint64_t touching_pairs) {
    double objects = ball_count(state);
    state.counters["contacts/object"] = 2.0 * static_cast<double>(touching_pairs) / objects;
    state.counters["time/object"] = benchmark::Counter(
        objects * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

constexpr int WARM_UP_FRAMES = 3;  // pools and pair caches reach their size

// Pairs (visitor, other) of one pass, each pair once whichever side saw it.
uint64_t zibu_touching_pairs(VNode* world) {
    static std::vector<std::pair<VNode*, VNode*>> seen;
    seen.clear();
    const ThingType recording = {"Ball", sizeof(Thing), ball_advance, nullptr,
                                 [](VNode* a, VNode* b) { seen.emplace_back(std::min(a, b), std::max(a, b)); },
                                 nullptr};
    std::vector<VNode*> balls;
    for (uint32_t i = 0; i < VNode_child_count(world); i++) balls.push_back(VNode_child(world, i));
    for (VNode* b : balls) b->type = &recording;
    VNode_collide(world);
    for (VNode* b : balls) b->type = &ball_type;
    std::sort(seen.begin(), seen.end());
    return static_cast<uint64_t>(std::unique(seen.begin(), seen.end()) - seen.begin());
}

void BM_collide_zibu(benchmark::State& state, bool fast) {
    VNode* world = make_scene(ball_count(state), fast);
    for (int i = 0; i < WARM_UP_FRAMES; i++) {
        next_frame(world);
        VNode_collide(world);
    }
    uint64_t touching = zibu_touching_pairs(world);
    for (auto _ : state) {
        state.PauseTiming();
        next_frame(world);
        state.ResumeTiming();
        VNode_collide(world);
    }
    report(state, touching);
    VNode_destroy(world);
}

// Bullet's broadphase over the same balls, tuned for a scene where
// everything moves every frame: pairs collected once per frame rather than
// at every setAabb, one incremental re-optimisation of the tree a frame, and
// every pair whose boxes parted dropped at once (the fastest of the settings
// tried).
struct BulletScene {
    btDefaultCollisionConfiguration configuration;
    btCollisionDispatcher dispatcher{&configuration};
    btDbvtBroadphase broadphase;
    std::vector<btBroadphaseProxy*> proxies;
    uint64_t hits = 0;
};

void swept_aabb(const VNode* n, btVector3* lo, btVector3* hi) {
    double r = n->bound.radius;
    const Vec3 &a = n->start_centre, &b = n->world_centre;
    lo->setValue(static_cast<btScalar>(std::min(a.x, b.x) - r), static_cast<btScalar>(std::min(a.y, b.y) - r),
                 static_cast<btScalar>(std::min(a.z, b.z) - r));
    hi->setValue(static_cast<btScalar>(std::max(a.x, b.x) + r), static_cast<btScalar>(std::max(a.y, b.y) + r),
                 static_cast<btScalar>(std::max(a.z, b.z) + r));
}

void bullet_frame(BulletScene* s) {
    for (btBroadphaseProxy* p : s->proxies) {
        btVector3 lo, hi;
        swept_aabb(static_cast<const VNode*>(p->m_clientObject), &lo, &hi);
        s->broadphase.setAabb(p, lo, hi, &s->dispatcher);
    }
    s->broadphase.calculateOverlappingPairs(&s->dispatcher);
    btBroadphasePairArray& pairs = s->broadphase.getOverlappingPairCache()->getOverlappingPairArray();
    uint64_t hits = 0;
    for (int i = 0; i < pairs.size(); i++) {
        const VNode* a = static_cast<const VNode*>(pairs[i].m_pProxy0->m_clientObject);
        const VNode* b = static_cast<const VNode*>(pairs[i].m_pProxy1->m_clientObject);
        if (VNode_swept_hit(a, b)) hits++;
    }
    s->hits = hits;
}

void BM_collide_bullet(benchmark::State& state, bool fast) {
    VNode* world = make_scene(ball_count(state), fast);
    BulletScene* s = new BulletScene;
    s->broadphase.m_deferedcollide = true;
    s->broadphase.m_dupdates = 0;
    s->broadphase.m_cupdates = 100;
    for (uint32_t i = 0; i < VNode_child_count(world); i++) {
        VNode* n = VNode_child(world, i);
        btVector3 lo, hi;
        swept_aabb(n, &lo, &hi);
        s->proxies.push_back(s->broadphase.createProxy(lo, hi, SPHERE_SHAPE_PROXYTYPE, n,
                                                       btBroadphaseProxy::DefaultFilter,
                                                       btBroadphaseProxy::AllFilter, &s->dispatcher));
    }
    for (int i = 0; i < WARM_UP_FRAMES; i++) {
        next_frame(world);
        bullet_frame(s);
    }
    uint64_t touching = s->hits;
    for (auto _ : state) {
        state.PauseTiming();
        next_frame(world);
        state.ResumeTiming();
        bullet_frame(s);
    }
    report(state, touching);
    // Every pair first, so that each proxy does not look through all of them.
    struct AllPairs : btOverlapCallback {
        bool processOverlap(btBroadphasePair&) override { return true; }
    } all;
    s->broadphase.getOverlappingPairCache()->processAllOverlappingPairs(&all, &s->dispatcher);
    for (btBroadphaseProxy* p : s->proxies) s->broadphase.destroyProxy(p, &s->dispatcher);
    delete s;
    VNode_destroy(world);
}

// Named <peer>/<slow|fast>/<N>.
bool registered = [] {
    using Run = void (*)(benchmark::State&, bool);
    for (auto [peer, run] : {std::pair<const char*, Run>{"zibu", BM_collide_zibu}, {"bullet", BM_collide_bullet}}) {
        for (bool fast : {false, true}) {
            std::string name = std::string("BM_collide_") + peer + (fast ? "/fast" : "/slow");
            benchmark::RegisterBenchmark(name.c_str(), run, fast)
                ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace
