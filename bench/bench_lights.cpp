// Choosing the lights of one thing among the 7442 lights of the light-tree
// mode: the tree's cut merged down to 8 lights, beside a plain scan that
// keeps the 8 lights that look brightest from the thing. Both at the places
// the things of a scene take (bench) and just over the light sheets, where
// the cut grows to 20-40 lights (sheets).
//
//   BM_lights_choose_tree/<bench|sheets>   cut and merge, per thing
//   BM_lights_choose_scan/<bench|sheets>   top 8 of all lights, per thing
//   BM_light_tree_lights                   the tree's lights given again
//                                          before a plot, as the scene does

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/main_loop.h"
#include "foundation/random.h"
#include "scene/lights.h"

namespace {

constexpr int CHOSEN = 8;
constexpr int PLACES = 256;

void tree_ready() {
    if (light_tree_mode) return;
    light_tree_on();
    add_tree_lights();
}

int cut_size(Vec3f p) {
    static DynArray cut;
    static bool ready = false;
    if (!ready) DynArray_init_of<Light>(&cut);
    ready = true;
    cut.count = 0;
    LightTree_query(&light_tree, static_cast<int32_t>(light_tree.entries.count) - 1, p, LIGHT_CUT_THRESHOLD, &cut);
    return static_cast<int>(cut.count);
}

float uniform(double lo, double hi) { return static_cast<float>(lo + random_real(hi - lo)); }

// Things spread over and around the sheets (x 0..60, y 0..40, z -20..80),
// or a little over the sheets where their cut holds 20 to 40 lights.
std::vector<Vec3f> places(bool sheets) {
    tree_ready();
    zibu_rand_reset();
    std::vector<Vec3f> at;
    while (at.size() < PLACES) {
        if (!sheets) {
            at.push_back(Vec3f{uniform(0, 60), uniform(0, 40), uniform(-20, 80)});
            continue;
        }
        bool big = random_int(2) == 0;
        Vec3f p = big ? Vec3f{uniform(0, 60), uniform(21, 28), uniform(0, 60)}
                      : Vec3f{uniform(25, 31), uniform(11, 16), uniform(0, 6)};
        int cut = cut_size(p);
        if (cut >= 20 && cut <= 40) at.push_back(p);
    }
    return at;
}

void BM_lights_choose_tree(benchmark::State& state, bool sheets) {
    std::vector<Vec3f> at = places(sheets);
    DynArray chosen;
    DynArray_init_of<Light>(&chosen);
    uint64_t cut_total = 0;
    for (const Vec3f& p : at) cut_total += static_cast<uint64_t>(cut_size(p));
    std::size_t k = 0;
    for (auto _ : state) {
        lights_select(&light_tree, at[k++ % PLACES], CHOSEN, &chosen);
        benchmark::DoNotOptimize(chosen.data);
    }
    state.counters["cut"] = static_cast<double>(cut_total) / PLACES;
    DynArray_free(chosen);
}

// The lights one after another in plain arrays, as a scan reads them best.
struct Scanned {
    std::vector<float> x, y, z, weight2;
};

Scanned scanned_lights() {
    tree_ready();
    Scanned s;
    for (uint32_t k = 0; k < light_tree.entries.count; k++) {
        if (DynArray_at<LightEntry>(&light_tree.entries, k).left >= 0) continue;
        const Light& l = DynArray_at<Light>(&light_tree.lights, k);
        s.x.push_back(l.pos.x);
        s.y.push_back(l.pos.y);
        s.z.push_back(l.pos.z);
        s.weight2.push_back(l.weight * l.weight);
    }
    return s;
}

// The CHOSEN lights with the largest weight / distance from p, by the
// square of it: a block of keys at a time, then those above the weakest
// kept so far go into the sorted few.
void scan_top(const Scanned& s, Vec3f p, int* best) {
    float best_key[CHOSEN];
    for (int i = 0; i < CHOSEN; i++) best_key[i] = -1.0f, best[i] = -1;
    constexpr std::size_t BLOCK = 256;
    float key[BLOCK];
    std::size_t n = s.x.size();
    for (std::size_t start = 0; start < n; start += BLOCK) {
        std::size_t len = n - start < BLOCK ? n - start : BLOCK;
        for (std::size_t i = 0; i < len; i++) {
            float dx = s.x[start + i] - p.x, dy = s.y[start + i] - p.y, dz = s.z[start + i] - p.z;
            key[i] = s.weight2[start + i] / (dx * dx + dy * dy + dz * dz);
        }
        for (std::size_t i = 0; i < len; i++) {
            if (!(key[i] > best_key[CHOSEN - 1])) continue;
            int j = CHOSEN - 1;
            for (; j > 0 && best_key[j - 1] < key[i]; j--) best_key[j] = best_key[j - 1], best[j] = best[j - 1];
            best_key[j] = key[i];
            best[j] = static_cast<int>(start + i);
        }
    }
}

void BM_lights_choose_scan(benchmark::State& state, bool sheets) {
    std::vector<Vec3f> at = places(sheets);
    Scanned s = scanned_lights();
    int best[CHOSEN];
    std::size_t k = 0;
    for (auto _ : state) {
        scan_top(s, at[k++ % PLACES], best);
        benchmark::DoNotOptimize(best);
    }
}

void BM_light_tree_lights(benchmark::State& state) {
    tree_ready();
    for (auto _ : state) add_tree_lights();
    state.counters["entries"] = light_tree.entries.count;
}

bool registered = [] {
    for (bool sheets : {false, true}) {
        const char* where = sheets ? "/sheets" : "/bench";
        benchmark::RegisterBenchmark((std::string("BM_lights_choose_tree") + where).c_str(), BM_lights_choose_tree, sheets)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("BM_lights_choose_scan") + where).c_str(), BM_lights_choose_scan, sheets)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("BM_light_tree_lights", BM_light_tree_lights)->Unit(benchmark::kMicrosecond);
    return true;
}();

}  // namespace
