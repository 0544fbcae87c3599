#include "scene/lights.h"

#include <cmath>
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
    for (int a = 0; a < 3; a++) {
        float d = 0.0f;
        if (q[a] < box.lo[a]) d = box.lo[a] - q[a];
        else if (q[a] > box.hi[a]) d = q[a] - box.hi[a];
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
        DynArray_push_value(out, l);
        return;
    }
    LightTree_query(tree, e.left, p, threshold, out);
    LightTree_query(tree, e.right, p, threshold, out);
}

// ---- Pairwise merge ----

namespace {

// Per-light view from the thing and the triangular table of pair costs,
// kept between calls so that choosing lights allocates nothing once warm.
struct MergeScratch {
    Vec3f* dir = nullptr;    // unit vector from the thing towards the light
    float* strength = nullptr;  // weight / distance
    float* cost = nullptr;   // cost of (i, j), i > j, at i (i - 1) / 2 + j
    uint32_t lights_room = 0;
    std::size_t cost_room = 0;
};
MergeScratch scratch;

void scratch_reserve(uint32_t n) {
    if (n > scratch.lights_room) {
        scratch.dir = static_cast<Vec3f*>(checked_realloc(scratch.dir, n * sizeof(Vec3f)));
        scratch.strength = static_cast<float*>(checked_realloc(scratch.strength, n * sizeof(float)));
        scratch.lights_room = n;
    }
    std::size_t pairs = static_cast<std::size_t>(n) * (n - 1) / 2;
    if (pairs > scratch.cost_room) {
        scratch.cost = static_cast<float*>(checked_realloc(scratch.cost, pairs * sizeof(float)));
        scratch.cost_room = pairs;
    }
}

float& pair_cost(uint32_t a, uint32_t b) {
    uint32_t hi = a > b ? a : b;
    uint32_t lo = a > b ? b : a;
    return scratch.cost[static_cast<std::size_t>(hi) * (hi - 1) / 2 + lo];
}

void compute_view(const Light* lights, uint32_t i, Vec3f p) {
    Vec3f to = vec3f_sub(lights[i].pos, p);
    scratch.dir[i] = vec3f_unit(to);
    scratch.strength[i] = lights[i].weight / vec3f_len(to);
}

// Angular error of replacing i and j by their weighted mean, weighted by
// apparent strength. A pair whose error is undefined (the merged light, or
// one of the two, would sit on the thing itself) counts as the dearest, so
// that it is merged last rather than by accident of the scan.
float compute_cost(const Light* lights, uint32_t i, uint32_t j, Vec3f p) {
    const Light& li = lights[i];
    const Light& lj = lights[j];
    Vec3f sum = vec3f_add(vec3f_scale(li.pos, li.weight), vec3f_scale(lj.pos, lj.weight));
    Vec3f m = vec3f_div(sum, li.weight + lj.weight);
    Vec3f um = vec3f_unit(vec3f_sub(m, p));
    float c = scratch.strength[j] * vec3f_dist(um, scratch.dir[j]) +
              scratch.strength[i] * vec3f_dist(um, scratch.dir[i]);
    return std::isnan(c) ? std::numeric_limits<float>::infinity() : c;
}

void refresh_costs_of(const Light* lights, uint32_t k, uint32_t n, Vec3f p) {
    for (uint32_t o = 0; o < n; o++) {
        if (o != k) pair_cost(k, o) = o < k ? compute_cost(lights, k, o, p) : compute_cost(lights, o, k, p);
    }
}

}  // namespace

int32_t lights_merge(DynArray* list, Vec3f p, int32_t limit) {
    uint32_t n = list->count;
    uint32_t keep = limit < 1 ? 1u : static_cast<uint32_t>(limit);
    if (n <= keep) return 0;
    scratch_reserve(n);
    Light* lights = DynArray_items<Light>(list);
    for (uint32_t i = 0; i < n; i++) compute_view(lights, i, p);
    for (uint32_t i = 1; i < n; i++) {
        for (uint32_t j = 0; j < i; j++) pair_cost(i, j) = compute_cost(lights, i, j, p);
    }
    int32_t merges = 0;
    while (n > keep) {
        uint32_t bi = 1, bj = 0;
        float best = pair_cost(1, 0);
        for (uint32_t i = n - 1; i >= 1; i--) {
            for (uint32_t j = i; j-- > 0;) {
                if (pair_cost(i, j) < best) best = pair_cost(i, j), bi = i, bj = j;
            }
        }
        lights[bi] = light_combine(&lights[bi], &lights[bj]);
        // The last light moves into the hole at bj together with its view
        // and costs; bj < bi <= last, so the hole is never the last slot.
        uint32_t last = n - 1;
        scratch.dir[bj] = scratch.dir[last];
        scratch.strength[bj] = scratch.strength[last];
        for (uint32_t o = 0; o < last; o++) {
            if (o != bj) pair_cost(bj, o) = pair_cost(last, o);
        }
        DynArray_remove(list, bj);
        lights = DynArray_items<Light>(list);
        n = last;
        uint32_t merged = bi == last ? bj : bi;
        compute_view(lights, merged, p);
        refresh_costs_of(lights, merged, n, p);
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

void light_tree_on() {
    if (light_tree_mode) return;
    LightTree_init(&light_tree);
    light_tree_mode = true;
}

void light_tree_off() {
    if (!light_tree_mode) return;
    LightTree_free(&light_tree);
    light_tree = LightTree{};  // no entries: a stray lights_choose finds nothing
    light_tree_mode = false;
}

// The tree only exists in light-tree mode; outside it these do nothing.
void light_tree_begin() {
    if (light_tree_mode) LightTree_clear(&light_tree);
}

void light_tree_add(float x, float y, float z, float r, float g, float b, float weight) {
    if (light_tree_mode) LightTree_add_leaf(&light_tree, x, y, z, r, g, b, weight);
}

void light_tree_end() {
    if (light_tree_mode) LightTree_build(&light_tree);
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
