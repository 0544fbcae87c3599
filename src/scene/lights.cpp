#include "scene/lights.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "foundation/memory.h"
#include "platform/opengl.h"
#include "platform/primitives.h"

int32_t max_lights = 1;
int32_t next_light = GL_LIGHT0;
bool light_tree_mode = false;
LightTree light_tree;

// ---- Combining and the tree ----

Light light_combine(const Light* a, const Light* b) {
    Light m;
    m.weight = a->weight + b->weight;
    float fa = a->weight / m.weight;
    float fb = b->weight / m.weight;
    m.spread = 2.0f * fa * b->weight * vec3f_dist(a->pos, b->pos) + a->spread + b->spread;
    m.pos = vec3f_add(vec3f_scale(a->pos, fa), vec3f_scale(b->pos, fb));
    m.colour = vec3f_add(vec3f_scale(a->colour, fa), vec3f_scale(b->colour, fb));
    return m;
}

void LightTree_init(LightTree* tree) {
    DynArray_init_of<LightEntry>(&tree->entries);
    DynArray_init_of<Light>(&tree->lights);
}

void LightTree_free(LightTree* tree) {
    DynArray_free(tree->entries);
    DynArray_free(tree->lights);
}

// The tree is rebuilt before every plot with about as many lights as the
// last time, so the storage is kept rather than regrown from nothing.
void LightTree_clear(LightTree* tree) {
    tree->entries.count = 0;
    tree->lights.count = 0;
}

void LightTree_add_leaf(LightTree* tree, float x, float y, float z, float r, float g, float b,
                        float weight) {
    LightEntry e = {{x, y, z}, {x, y, z}, -1, -1};
    Light l = {{x, y, z}, {r, g, b}, weight, 0.0f};
    DynArray_push_value(&tree->entries, e);
    DynArray_push_value(&tree->lights, l);
}

namespace {

LightEntry& entry_at(const LightTree* tree, int32_t k) {
    return DynArray_at<LightEntry>(&tree->entries, static_cast<uint32_t>(k));
}
Light& light_at(const LightTree* tree, int32_t k) {
    return DynArray_at<Light>(&tree->lights, static_cast<uint32_t>(k));
}

void swap_leaves(LightTree* tree, int32_t i, int32_t j) {
    LightEntry e = entry_at(tree, i);
    entry_at(tree, i) = entry_at(tree, j);
    entry_at(tree, j) = e;
    Light l = light_at(tree, i);
    light_at(tree, i) = light_at(tree, j);
    light_at(tree, j) = l;
}

// x unless y or z reaches further; then the further of y and z (y on a tie).
int split_axis(const LightEntry& box) {
    float ex = box.hi[0] - box.lo[0];
    float ey = box.hi[1] - box.lo[1];
    float ez = box.hi[2] - box.lo[2];
    if (ey > ex || ez > ex) return ez > ey ? 2 : 1;
    return 0;
}

// Hoare partition of the leaves lo..hi by their box minimum on the axis;
// returns the first index of the upper part.
int32_t partition(LightTree* tree, int32_t lo, int32_t hi, int axis, float mid) {
    int32_t i = lo;
    int32_t j = hi;
    for (;;) {
        while (i <= hi && entry_at(tree, i).lo[axis] < mid) i++;
        while (j >= lo && entry_at(tree, j).lo[axis] >= mid) j--;
        if (i >= j) return i;
        swap_leaves(tree, i, j);
    }
}

int32_t build(LightTree* tree, int32_t lo, int32_t hi) {
    if (hi <= lo) return lo;
    LightEntry box = entry_at(tree, lo);
    for (int32_t k = lo + 1; k <= hi; k++) {
        const LightEntry& e = entry_at(tree, k);
        for (int a = 0; a < 3; a++) {
            if (e.lo[a] < box.lo[a]) box.lo[a] = e.lo[a];
            if (e.hi[a] > box.hi[a]) box.hi[a] = e.hi[a];
        }
    }
    int axis = split_axis(box);
    float mid = 0.5f * (box.lo[axis] + box.hi[axis]);
    int32_t i = partition(tree, lo, hi, axis, mid);
    // Coinciding lights (or a box too thin for its midpoint to fall strictly
    // inside) leave one side empty; split by count so the recursion ends.
    if (i <= lo || i > hi) i = lo + (hi - lo + 1) / 2;
    int32_t left = build(tree, lo, i - 1);
    int32_t right = build(tree, i, hi);
    box.left = left;
    box.right = right;
    Light cluster = light_combine(&light_at(tree, left), &light_at(tree, right));
    DynArray_push_value(&tree->entries, box);
    return static_cast<int32_t>(DynArray_push_value(&tree->lights, cluster));
}

float box_distance2(const LightEntry& box, Vec3f p) {
    const float q[3] = {p.x, p.y, p.z};
    float d2 = 0.0f;
    // The farther of p's distances beyond either face, or none inside: both
    // are negative between the faces, and a NaN counts as inside. As maxss
    // (a > b ? a : b) rather than branches: which side p lies on is a coin
    // toss.
    auto larger = [](float a, float b) { return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(a), _mm_set_ss(b))); };
    for (int a = 0; a < 3; a++) {
        float d = larger(larger(box.lo[a] - q[a], q[a] - box.hi[a]), 0.0f);
        d2 += d * d;
    }
    return d2;
}

}  // namespace

int32_t LightTree_build(LightTree* tree) {
    int32_t count = static_cast<int32_t>(tree->entries.count);
    if (count == 0) return -1;
    return build(tree, 0, count - 1);
}

void LightTree_query(const LightTree* tree, int32_t k, Vec3f p, float threshold, DynArray* out) {
    const LightEntry& e = entry_at(tree, k);
    const Light& l = light_at(tree, k);
    if (e.left < 0 || l.spread < box_distance2(e, p) * threshold) {
        if (out->count < out->capacity) DynArray_items<Light>(out)[out->count++] = l;
        else DynArray_push_value(out, l);
        return;
    }
    LightTree_query(tree, e.left, p, threshold, out);
    LightTree_query(tree, e.right, p, threshold, out);
}

// ---- Pairwise merge ----
//
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
    lights_merge(out, p, limit);
}

// ---- Library lights ----

void lights_start() {
    glEnable(GL_LIGHTING);
    const GLfloat grey[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, grey);
    glEnable(GL_LIGHT0);
    glEnable(GL_COLOR_MATERIAL);
    GLint count = 1;
    glGetIntegerv(GL_MAX_LIGHTS, &count);
    max_lights = count;
}

void lights_ambient(float r, float g, float b) {
    const GLfloat ambient[4] = {r, g, b, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
}

void lights_off() {
    for (int32_t l = GL_LIGHT0; l < next_light; l++) glDisable(static_cast<GLenum>(l));
    next_light = GL_LIGHT0;
}

void light_add(float x, float y, float z, float w, float r, float g, float b) {
    if (next_light >= GL_LIGHT0 + max_lights) return;
    GLenum light = static_cast<GLenum>(next_light);
    const GLfloat position[4] = {x, y, z, w};
    const GLfloat diffuse[4] = {r, g, b, 1.0f};
    glEnable(light);
    glLightfv(light, GL_POSITION, position);
    glLightfv(light, GL_DIFFUSE, diffuse);
    next_light++;
}

void light_point(float x, float y, float z, float r, float g, float b, float weight) {
    int32_t before = next_light;
    light_add(x, y, z, 1.0f, r, g, b);
    if (next_light == before) return;  // dropped: leave the lights in use alone
    GLenum light = static_cast<GLenum>(before);
    glLightf(light, GL_LINEAR_ATTENUATION, 1.0f / weight);
    glLightf(light, GL_CONSTANT_ATTENUATION, 0.0f);
}

void light_directional(float x, float y, float z, float r, float g, float b) {
    light_add(x, y, z, 0.0f, r, g, b);
}

namespace {

// The lights given since light_tree_begin, in the order given, and whether
// they are, so far, those the tree was last built from. The scene gives the
// same lights before every plot, so the tree is built again only when they
// change; the same lights in the same order build the same tree.
struct TreeInputs {
    DynArray lights;  // of Light, as given
    uint32_t given;
    bool same;
};
TreeInputs inputs;

}  // namespace

void light_tree_on() {
    if (light_tree_mode) return;
    LightTree_init(&light_tree);
    DynArray_init_of<Light>(&inputs.lights);
    inputs.given = 0;
    inputs.same = true;
    light_tree_mode = true;
}

void light_tree_off() {
    if (!light_tree_mode) return;
    LightTree_free(&light_tree);
    DynArray_free(inputs.lights);
    light_tree = LightTree{};  // no entries: a stray lights_choose finds nothing
    light_tree_mode = false;
}

// The tree only exists in light-tree mode; outside it these do nothing.
void light_tree_begin() {
    if (!light_tree_mode) return;
    inputs.given = 0;
    inputs.same = true;
}

void light_tree_add(float x, float y, float z, float r, float g, float b, float weight) {
    if (!light_tree_mode) return;
    Light l = {{x, y, z}, {r, g, b}, weight, 0.0f};
    if (inputs.same && inputs.given < inputs.lights.count &&
        std::memcmp(&DynArray_at<Light>(&inputs.lights, inputs.given), &l, sizeof(Light)) == 0) {
        inputs.given++;
        return;
    }
    if (inputs.same) inputs.lights.count = inputs.given;  // keep the lights that matched
    inputs.same = false;
    DynArray_push_value(&inputs.lights, l);
    inputs.given++;
}

void light_tree_end() {
    if (!light_tree_mode) return;
    if (inputs.same && inputs.given == inputs.lights.count) return;  // the tree stands
    inputs.lights.count = inputs.given;
    LightTree_clear(&light_tree);
    for (uint32_t k = 0; k < inputs.lights.count; k++) {
        const Light& l = DynArray_at<Light>(&inputs.lights, k);
        LightTree_add_leaf(&light_tree, l.pos.x, l.pos.y, l.pos.z, l.colour.x, l.colour.y, l.colour.z, l.weight);
    }
    LightTree_build(&light_tree);
}

void lights_choose(float x, float y, float z) {
    static DynArray chosen;
    static bool chosen_ready = false;
    if (!chosen_ready) {
        DynArray_init_of<Light>(&chosen);
        chosen_ready = true;
    }
    lights_off();
    lights_select(&light_tree, Vec3f{x, y, z}, max_lights, &chosen);
    for (uint32_t k = chosen.count; k-- > 0;) {
        const Light& l = DynArray_at<Light>(&chosen, k);
        light_point(l.pos.x, l.pos.y, l.pos.z, l.colour.x, l.colour.y, l.colour.z, l.weight);
    }
}

void light_tree_draw(int on_top) {
    lights_off();
    light_directional(0.3f, 0.5f, 0.8f, 0.8f, 0.8f, 0.8f);
    lights_ambient(0.2f, 0.2f, 0.2f);
    if (on_top) {
        glDepthFunc(GL_ALWAYS);
        glDisable(GL_LIGHTING);
    }
    int32_t count = static_cast<int32_t>(light_tree.entries.count);
    // A cube per entry, its size growing with the root of the weight.
    glBegin(GL_QUADS);
    for (int32_t k = count; k-- > 0;) {
        const Light& l = light_at(&light_tree, k);
        float s = 0.05f * std::sqrt(l.weight);
        glColor3f(l.colour.x, l.colour.y, l.colour.z);
        cube_quads(l.pos.x - s, l.pos.y - s, l.pos.z - s, 2.0 * s);
    }
    glEnd();
    // A line from each cluster to each of its two parts.
    glBegin(GL_LINES);
    glNormal3f(0.0f, 0.0f, 1.0f);
    for (int32_t k = count; k-- > 0;) {
        const LightEntry& e = entry_at(&light_tree, k);
        if (e.left < 0) continue;
        const Light& from = light_at(&light_tree, k);
        for (int32_t child : {e.right, e.left}) {
            const Light& to = light_at(&light_tree, child);
            if (on_top) glColor3f(1.0f, 1.0f, 1.0f);
            else glColor3f(to.colour.x, to.colour.y, to.colour.z);
            glVertex3f(from.pos.x, from.pos.y, from.pos.z);
            glVertex3f(to.pos.x, to.pos.y, to.pos.z);
        }
    }
    glEnd();
    if (on_top) {
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_LIGHTING);
    }
}
