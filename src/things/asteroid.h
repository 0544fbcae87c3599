#pragma once
// Asteroids: textured rocky spheres that drift, bounce off each other and off the ship, and
// break when a ship's bullet strikes them. A big one splits into two halves of half its
// volume, a small one is destroyed; each hit leaves smoke and an explosion and scores.
// Also home of sphere_bounce, the equal-mass bounce that every solid moving thing uses.

#include "scene/vnode.h"

// An asteroid is a plain moving thing: its position is the translation of its own frame,
// its radius the bound's.
extern const ThingType asteroid_type;

// Display list of the unit asteroid sphere: 0 until the first asteroid is drawn.
extern unsigned asteroid_list;
// Explosion sprite of asteroid hits: 0 until the first hit.
extern unsigned asteroid_splode_texture;

// Below this radius a hit destroys the asteroid instead of splitting it.
constexpr double ASTEROID_SPLIT_RADIUS = 0.5;
constexpr double ASTEROID_SPLIT_SCORE = 5.0;
constexpr double ASTEROID_DESTROY_SCORE = 10.0;

// Equal-mass, perfectly elastic bounce of two overlapping moving things: the part of their
// relative velocity along the line of centres is exchanged whichever way they move, and each
// is pushed out by the whole overlap. Does nothing unless both are mobile things with frames
// of their own, when their centres coincide, or when they do not overlap.
void sphere_bounce(VNode* a, VNode* b);

// An asteroid of the given radius at (x, y, z) of parent's coordinates, drifting with a
// random velocity in [-1, 1)^3.
Thing* asteroid_create(double x, double y, double z, double radius, VNode* parent);
// Drifts; G held pulls everything down (-y) at 9.81, H held pulls towards the parent's origin.
void asteroid_advance(VNode* node, double dt);
void asteroid_plot(VNode* node);
// A bullet that counts splits or destroys the asteroid; anything else bounces off it.
void asteroid_collide(VNode* node, VNode* other);

// The sphere mesh: each quarter of each cube face projected onto the sphere as n x n quads,
// 24 n^2 quads in all, emitted into the current OpenGL primitive stream (GL_QUADS).
void cube_sphere(double cx, double cy, double cz, double radius, int n);
// One vertex of it: normal, texture coordinate from the dominant axis, position.
void cube_sphere_vertex(double cx, double cy, double cz, double radius, double nx, double ny,
                        double nz);
// The corner normals of that mesh in emission order, four per quad, without OpenGL.
void cube_sphere_normals(int n, void (*corner)(void* user, double nx, double ny, double nz),
                         void* user);
// The texture coordinate cube_sphere_vertex gives the unit normal (nx, ny, nz).
void cube_sphere_texcoord(double nx, double ny, double nz, double* s, double* t);

// size x size RGB texels of speckled grey (168 to 191), rows padded to 4 bytes.
unsigned char* rock_texture_image(int size);
// That image as a new mipmapped texture, left bound; returns its name.
unsigned rock_texture(int size);
