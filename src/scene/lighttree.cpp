#include "scene/lighttree.h"

#include <emmintrin.h>

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
