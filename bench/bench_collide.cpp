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
#include <cmath>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "foundation/random.h"
#include "scene/advance.h"
#include "scene/collide.h"

namespace {

// Spheres bounce off the walls of the cube [0, side]^3.
double side = 0.0;

void ball_advance(VNode* node, double dt) {
    Thing* t = VNode_as<Thing>(node);
    double* m = t->frame->current.m;
    double* v[3] = {&t->velocity.x, &t->velocity.y, &t->velocity.z};
    for (int a = 0; a < 3; a++) {
        double p = m[12 + a] + *v[a] * dt;
        if (p < 0.0) p = -p, *v[a] = -*v[a];
        if (p > side) p = 2.0 * side - p, *v[a] = -*v[a];
        m[12 + a] = p;
    }
}

uint64_t collide_calls = 0;
void ball_collide(VNode*, VNode*) { collide_calls++; }

const ThingType ball_type = {"Ball", sizeof(Thing), ball_advance, nullptr, ball_collide, nullptr};

double uniform(double lo, double hi) { return lo + random_real(hi - lo); }

Vec3 random_direction() {
    for (;;) {
        Vec3 d = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
        double l = vec3_len(d);
        if (l > 0.1 && l <= 1.0) return vec3_scale(d, 1.0 / l);
    }
}

// Radius 0.5 to 2; a speed of 0.1 to 1 radius a frame (slow) or 1 to 10 (fast).
struct Ball {
    double radius;
    Vec3 velocity;
};

Ball random_ball(bool fast) {
    Ball b;
    b.radius = uniform(0.5, 2.0);
    b.velocity = vec3_scale(random_direction(), b.radius * (fast ? uniform(1, 10) : uniform(0.1, 1)));
    return b;
}

// The cube that gives each sphere about two contacts a frame: two spheres
// touch during a frame when one sweeps through the other's reach R (their
// radii summed), a volume of 4/3 pi R^3 + pi R^2 |relative motion|. With
// N (N - 1) / 2 pairs in the cube, N of them should touch.
double cube_side(int count, bool fast) {
    const int samples = 20000;
    double volume = 0.0;
    for (int i = 0; i < samples; i++) {
        Ball a = random_ball(fast), b = random_ball(fast);
        double reach = a.radius + b.radius;
        double motion = vec3_len(vec3_sub(a.velocity, b.velocity));
        volume += std::numbers::pi * reach * reach * (4.0 / 3.0 * reach + motion);
    }
    return std::cbrt((count - 1) / 2.0 * volume / samples);
}

VNode* make_scene(int count, bool fast) {
    zibu_rand_reset(1);
    side = cube_side(count, fast);
    VNode* world = World_create(0, 0, 0, nullptr);
    for (int i = 0; i < count; i++) {
        Ball b = random_ball(fast);
        Thing* t = VNode_create_thing(&ball_type, world);
        VNode_take_frame(t, nullptr);
        frame_translate(&t->frame->current, uniform(0, side), uniform(0, side), uniform(0, side));
        t->bound.radius = b.radius;
        t->velocity = b.velocity;
    }
    VNode_advance_tree(world, 0.0);
    VNode_remember_frames(world);
    return world;
}

void next_frame(VNode* world) {
    VNode_remember_frames(world);
    VNode_advance_tree(world, 1.0);
}

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
