#include "scene/lightmerge.h"

#include <emmintrin.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "foundation/memory.h"
#include "scene/work.h"

// The pair merged is the one of least cost that a scan from the last pair
// (n - 1, n - 2) down to (1, 0) finds, starting from (1, 0) and taking over
// only on a strictly smaller cost. The keys sit in a table of rows, four to
// a block, and the winner is found with four-wide minima over the blocks and
// then looked for from the top, with no branch per key and nothing to keep
// up to date between merges. Most pairs are far from the
// cheapest, so a pair's cost is first known only by a bound below it, which
// takes one square root rather than four; the cost itself is worked out only
// when its bound would win the scan. A bound that loses to a cost loses to it
// on the cost too, and on a tie the scan's order decides either way, so the
// winner is the same.

namespace {

// The lights being merged as seen from the thing, one array per value so
// that a light's bounds with all the others come out of one plain loop; the
// table of pair keys (a cost, or a bound below it), infinite from the
// diagonal to the end of the row's last block; and, for every row, the
// least of its keys in each lane. All kept between calls, so that choosing
// lights allocates nothing once warm.
struct MergeScratch {
    float *x, *y, *z, *weight;
    float *dir_x, *dir_y, *dir_z;  // unit vector from the thing towards the light
    float* strength;               // weight / distance
    float* key;                    // of (i, j), i > j, at i * room + j; infinite for j >= i
    bool* exact;                   // whether that key is the pair's cost
    float* fresh;                  // the bounds of one light with all others
    float* row_least;              // per row, four lanes: the least key of the columns j = lane mod 4
    uint32_t room;
};
MergeScratch scratch = {};

// Bounds are worked out and keys compared four at a time: rows and lists
// are padded to a multiple of four, and a row's keys from the diagonal to
// its padded end are infinite.
constexpr uint32_t LANES = 4;
uint32_t padded(uint32_t n) { return (n + LANES - 1) / LANES * LANES; }

void scratch_reserve(uint32_t lights) {
    uint32_t n = padded(lights);
    if (n <= scratch.room) return;
    for (float** values : {&scratch.x, &scratch.y, &scratch.z, &scratch.weight, &scratch.dir_x, &scratch.dir_y,
                           &scratch.dir_z, &scratch.strength, &scratch.fresh}) {
        *values = static_cast<float*>(checked_realloc(*values, n * sizeof(float)));
    }
    scratch.row_least = static_cast<float*>(checked_realloc(scratch.row_least, n * LANES * sizeof(float)));
    checked_free(scratch.key);
    checked_free(scratch.exact);
    scratch.key = static_cast<float*>(checked_malloc_array(std::size_t{n} * n, sizeof(float)));
    scratch.exact = static_cast<bool*>(checked_malloc_array(std::size_t{n} * n, sizeof(bool)));
    scratch.room = n;
}

std::size_t at(uint32_t i, uint32_t j) { return std::size_t{i} * scratch.room + j; }

// Light i of the list into slot i, with its unit vector and apparent strength.
void take_light(const Light* lights, uint32_t i, Vec3f p) {
    const Light& l = lights[i];
    scratch.x[i] = l.pos.x;
    scratch.y[i] = l.pos.y;
    scratch.z[i] = l.pos.z;
    scratch.weight[i] = l.weight;
    Vec3f to = vec3f_sub(l.pos, p);
    Vec3f dir = vec3f_unit(to);
    scratch.dir_x[i] = dir.x;
    scratch.dir_y[i] = dir.y;
    scratch.dir_z[i] = dir.z;
    scratch.strength[i] = l.weight / vec3f_len(to);
}

void move_light(uint32_t from, uint32_t to) {
    for (float* values : {scratch.x, scratch.y, scratch.z, scratch.weight, scratch.dir_x, scratch.dir_y,
                          scratch.dir_z, scratch.strength}) {
        values[to] = values[from];
    }
}

// The cost of merging lights i and j: the angular error of replacing the two
// by their weighted mean, weighted by apparent strength; the same for either
// order. A pair whose error is undefined (the merged light, or one of the
// two, would sit on the thing itself) counts as the dearest, so that it is
// merged last rather than by accident of the scan.
float pair_cost(const Light* lights, uint32_t i, uint32_t j, Vec3f p) {
    const Light& li = lights[i];
    const Light& lj = lights[j];
    Vec3f sum = vec3f_add(vec3f_scale(li.pos, li.weight), vec3f_scale(lj.pos, lj.weight));
    Vec3f m = vec3f_div(sum, li.weight + lj.weight);
    Vec3f um = vec3f_unit(vec3f_sub(m, p));
    Vec3f dir_i = {scratch.dir_x[i], scratch.dir_y[i], scratch.dir_z[i]};
    Vec3f dir_j = {scratch.dir_x[j], scratch.dir_y[j], scratch.dir_z[j]};
    float c = scratch.strength[j] * vec3f_dist(um, dir_j) + scratch.strength[i] * vec3f_dist(um, dir_i);
    return std::isnan(c) ? std::numeric_limits<float>::infinity() : c;
}

// Bounds below the costs of light k with lights 0 .. count - 1, into out.
// The merged light's direction is at least as far from the two as they are
// from each other, so a cost is at least the smaller strength times the
// distance between the two directions. A thousandth less, and a little less
// again, covers the rounding of both; without a sound bound (a strength that
// is negative or not a number) the bound is minus infinity.
void bounds_of(uint32_t k, uint32_t count, float* out) {
    const float *dir_x = scratch.dir_x, *dir_y = scratch.dir_y, *dir_z = scratch.dir_z;
    const float* strength = scratch.strength;
    const float dxk = dir_x[k], dyk = dir_y[k], dzk = dir_z[k], sk = strength[k];
    const float none = -std::numeric_limits<float>::infinity();
    const uint32_t lanes = padded(count);
    for (uint32_t o = 0; o < lanes; o++) {
        float ex = dir_x[o] - dxk, ey = dir_y[o] - dyk, ez = dir_z[o] - dzk;
        float weaker = strength[o] < sk ? strength[o] : sk;
        float bound = weaker * std::sqrt(ex * ex + ey * ey + ez * ez) * 0.999f - 1e-30f;
        out[o] = std::isnan(bound) || std::isless(weaker, 0.0f) ? none : bound;
    }
}

// The bounds of light k with lights 0 .. count - 1 (but k): in row k before
// k, in column k after it.
void bound_pairs_of(uint32_t k, uint32_t count) {
    bounds_of(k, count, scratch.fresh);
    for (uint32_t o = 0; o < k; o++) {
        scratch.key[at(k, o)] = scratch.fresh[o];
        scratch.exact[at(k, o)] = false;
    }
    for (uint32_t o = k + 1; o < count; o++) {
        scratch.key[at(o, k)] = scratch.fresh[o];
        scratch.exact[at(o, k)] = false;
    }
}

// The winner of the scan over the keys: the least key, and on a tie (1, 0)
// before all others, then the highest i and the highest j. Row i is read in
// blocks of four up to its padded end; its keys from i on are infinite, so
// they win only when every key is, and then (1, 0) does. No key is NaN, so
// the keys equal to the least are exactly those the scan may stop on.
void least_key(uint32_t n, uint32_t* bi, uint32_t* bj) {
    __m128 least = _mm_set1_ps(std::numeric_limits<float>::infinity());
    for (uint32_t i = 1; i < n; i++) {
        const float* row = scratch.key + at(i, 0);
        __m128 r = _mm_loadu_ps(row);
        for (uint32_t o = LANES; o < i; o += LANES) r = _mm_min_ps(r, _mm_loadu_ps(row + o));
        _mm_storeu_ps(scratch.row_least + i * LANES, r);
        least = _mm_min_ps(least, r);
    }
    least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
    least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));
    if (scratch.key[at(1, 0)] == _mm_cvtss_f32(least)) {
        *bi = 1;
        *bj = 0;
        return;
    }
    uint32_t i = n - 1;
    while (_mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(scratch.row_least + i * LANES), least)) == 0) i--;
    const float* row = scratch.key + at(i, 0);
    uint32_t o = padded(i);
    int holding = 0;
    while (holding == 0) {
        o -= LANES;
        holding = _mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(row + o), least));
    }
    *bi = i;
    *bj = o + static_cast<uint32_t>(31 - __builtin_clz(static_cast<unsigned>(holding)));
}

// The winner of the scan over the costs: while a bound wins, its cost takes
// its place (never lower than the bound) and the scan runs again.
void cheapest_pair(const Light* lights, uint32_t n, Vec3f p, uint32_t* bi, uint32_t* bj) {
    for (;;) {
        least_key(n, bi, bj);
        std::size_t pair = at(*bi, *bj);
        if (scratch.exact[pair]) return;
        scratch.key[pair] = pair_cost(lights, *bi, *bj, p);
        scratch.exact[pair] = true;
    }
}

}  // namespace

int32_t lights_merge(DynArray* list, Vec3f p, int32_t limit) {
    uint32_t n = list->count;
    uint32_t keep = limit < 1 ? 1u : static_cast<uint32_t>(limit);
    if (n <= keep) return 0;
    scratch_reserve(n);
    Light* lights = DynArray_items<Light>(list);
    for (uint32_t i = 0; i < n; i++) take_light(lights, i, p);
    for (uint32_t i = n; i < padded(n); i++) move_light(0, i);
    for (uint32_t i = 1; i < n; i++) {
        bounds_of(i, i, scratch.key + at(i, 0));
        for (uint32_t j = 0; j < i; j++) scratch.exact[at(i, j)] = false;
        for (uint32_t j = i; j < padded(i); j++) scratch.key[at(i, j)] = std::numeric_limits<float>::infinity();
    }
    int32_t merges = 0;
    while (n > keep) {
        uint32_t bi, bj;
        cheapest_pair(lights, n, p, &bi, &bj);
        lights[bi] = light_combine(&lights[bi], &lights[bj]);
        // The last light moves into the hole at bj together with its view
        // and keys; bj < bi <= last, so the hole is never the last slot.
        // Only keys below the diagonal move, so the infinite ones stay.
        uint32_t last = n - 1;
        move_light(last, bj);
        for (uint32_t o = 0; o < bj; o++) {
            scratch.key[at(bj, o)] = scratch.key[at(last, o)];
            scratch.exact[at(bj, o)] = scratch.exact[at(last, o)];
        }
        for (uint32_t o = bj + 1; o < last; o++) {
            scratch.key[at(o, bj)] = scratch.key[at(last, o)];
            scratch.exact[at(o, bj)] = scratch.exact[at(last, o)];
        }
        // As DynArray_remove, but the list keeps its storage for the next thing.
        lights[bj] = lights[last];
        list->count = last;
        n = last;
        uint32_t merged = bi == last ? bj : bi;
        take_light(lights, merged, p);
        bound_pairs_of(merged, n);
        merges++;
    }
    return merges;
}

void lights_select(const LightTree* tree, Vec3f p, int32_t limit, DynArray* out) {
    out->count = 0;  // keeps the storage for the next thing
    if (tree->entries.count == 0) return;
    int32_t root = static_cast<int32_t>(tree->entries.count) - 1;
    LightTree_query(tree, root, p, LIGHT_CUT_THRESHOLD, out);
    pass_work.lights_scored += out->count;
    lights_merge(out, p, limit);
}
