#pragma once
// The light tree: thousands of point lights gathered into a tree of clusters,
// and the cut of it that stands for all of them as seen from one point. Plain
// arithmetic on a LightTree, no OpenGL.

#include <cstdint>

#include "foundation/dynarray.h"
#include "foundation/vec3.h"

// A point light or a cluster of them, in single precision.
struct Light {
    Vec3f pos;
    Vec3f colour;
    float weight;  // brightness ~ weight / distance; a cluster sums its members
    float spread;  // 0 for one light; grows with the members' weighted distances
};
static_assert(sizeof(Light) == 8 * sizeof(float));

// A node of the light tree: a box and two links (left -1 for a leaf).
struct LightEntry {
    float lo[3];
    float hi[3];
    int32_t left;
    int32_t right;
};

// entries[k] and lights[k] belong together. Leaves come first; the build
// appends the inner entries after them in post-order, so the root is last.
struct LightTree {
    DynArray entries;  // of LightEntry
    DynArray lights;   // of Light
};

// A cluster is taken whole once its spread is below this share of its
// squared distance.
constexpr float LIGHT_CUT_THRESHOLD = 0.1f;

// The cluster of a and b: summed weight, weighted mean position and colour,
// spread grown by the weighted distance between them.
Light light_combine(const Light* a, const Light* b);

void LightTree_init(LightTree* tree);
void LightTree_free(LightTree* tree);
// Back to no entries at all (the storage stays for the next build).
void LightTree_clear(LightTree* tree);
void LightTree_add_leaf(LightTree* tree, float x, float y, float z, float r, float g, float b,
                        float weight);
// Builds the inner entries over the leaves (reordering them) and returns the
// root's index, or -1 when there are no leaves. Call once after the leaves.
int32_t LightTree_build(LightTree* tree);
// Appends to out (of Light) the cut of the subtree at entry as seen from p:
// leaves, and clusters whose spread is below threshold times their squared
// distance from p.
void LightTree_query(const LightTree* tree, int32_t entry, Vec3f p, float threshold,
                     DynArray* out);
