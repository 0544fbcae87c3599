#pragma once
// Scene lighting with the library's fixed-function lights.
//
// Plain mode: a few lights are set once per plot through the small light
// operations. Light-tree mode: thousands of point lights are gathered into a
// tree of clusters, and for every opaque thing a handful of lights or clusters
// is chosen that stands for all of them as seen from the thing, then merged
// further until it fits into the library's lights.
//
// The tree's build and cut (scene/lighttree.h) and the merge
// (scene/lightmerge.h) are plain arithmetic and need no OpenGL; the
// operations here that set library lights do.

#include <cstdint>

#include "scene/lightmerge.h"
#include "scene/lighttree.h"

// Number of library lights (GL_MAX_LIGHTS once lights_start has run).
extern int32_t max_lights;
// The library light the next light_add uses, as its enumerant.
extern int32_t next_light;
// True while the light tree exists.
extern bool light_tree_mode;
// The process-wide tree, valid while light_tree_mode is set.
extern LightTree light_tree;

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
