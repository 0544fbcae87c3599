#pragma once
// Scene lighting with the library's fixed-function lights.
//
// Plain mode: a few lights are set once per plot through the small light
// operations. Light-tree mode: thousands of point lights are gathered into a
// tree of clusters, and for every opaque thing a handful of lights or clusters
// is chosen that stands for all of them as seen from the thing, then merged
// further until it fits into the library's lights.
//
// The tree's build, cut and merge are plain arithmetic on a LightTree and
// need no OpenGL; the operations that set library lights do.

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

// Number of library lights (GL_MAX_LIGHTS once lights_start has run).
extern int32_t max_lights;
// The library light the next light_add uses, as its enumerant.
extern int32_t next_light;
// True while the light tree exists.
extern bool light_tree_mode;
// The process-wide tree, valid while light_tree_mode is set.
extern LightTree light_tree;

// ---- Pure arithmetic (no OpenGL) ----

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
// Merges the lights of list (of Light) pairwise, always the pair whose merge
// costs the least angular error as seen from p, until at most limit remain.
// Returns the number of merges.
int32_t lights_merge(DynArray* list, Vec3f p, int32_t limit);
// Clears out, then fills it with the cut from the root merged down to limit.
void lights_select(const LightTree* tree, Vec3f p, int32_t limit, DynArray* out);

// ---- Library lights (need a current OpenGL context) ----

// Lighting on, light 0 grey and on, colour material on; reads max_lights.
void lights_start();
void lights_ambient(float r, float g, float b);
// Switches off every light added since the last call.
void lights_off();
// Sets the next free library light; ignored when all are in use. The
// position goes through the model-view matrix current at the call.
void light_add(float x, float y, float z, float w, float r, float g, float b);
// A point light whose brightness falls off as weight / distance.
void light_point(float x, float y, float z, float r, float g, float b, float weight);
// A light shining from the direction (x, y, z).
void light_directional(float x, float y, float z, float r, float g, float b);

void light_tree_on();
void light_tree_off();
// The lights of a new plot: light_tree_begin, light_tree_add for each light,
// then light_tree_end builds the tree over them. Until light_tree_end the
// tree is the last one built, and when the lights are those of the last
// build, bit for bit and in the same order, that tree stays as it is.
void light_tree_begin();
void light_tree_add(float x, float y, float z, float r, float g, float b, float weight);
void light_tree_end();
// Replaces the lights in force by those chosen for a thing at (x, y, z).
void lights_choose(float x, float y, float z);
// Debug view: a cube per entry and a line from each inner entry to its
// children; on_top draws it over everything, unlit.
void light_tree_draw(int on_top);
