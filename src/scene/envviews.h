#pragma once
// Views of the scene along the six axis directions, each a plot with a square 90-degree
// projection: cube-face views into small viewport squares, and a cube map captured once from a
// fixed point and shown on a sphere through generated reflection (or normal) coordinates.
#include <cstdint>

#include "scene/vnode.h"

// The current projection with a 90-degree field across and up (its depth terms kept), pushed
// onto the projection stack; the model-view stack is selected again afterwards.
void square_projection_push();
void square_projection_pop();

// One cube-face view of the world from the viewer into the viewport rectangle (x, y, w, h)
// (window pixels from the bottom-left): face 0 looks ahead, 1 left, 2 right, 3 down, 4 up,
// 5 behind. Projection, model-view matrix, viewport and the camera record are left as found.
void face_view(VNode* world, VNode* viewer, int x, int y, int w, int h, int face);

// Renders the six faces seen from (x, y, z) along the world's axes into a cube-map texture of
// size x size pixels: a new one when texture is 0, else that one. Returns the texture. Uses
// the lower-left size x size pixels of the frame buffer, which it leaves cleared.
uint32_t env_cube_capture(VNode* world, double x, double y, double z, int size, uint32_t texture);

// The cube map seen from (x, y, z), captured at 512 pixels on the first call and returned
// unchanged by every later call, wherever it is asked for.
uint32_t env_cube_map(VNode* world, double x, double y, double z);

// A white sphere of 40 divisions showing the cube map as a reflection, or as its normal
// directions while Ctrl and N are held. Needs the camera record of the current view.
void env_sphere(float cx, float cy, float cz, float radius, uint32_t texture);
