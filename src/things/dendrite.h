#pragma once
// A box of unit cells in which a crystal grows by diffusion-limited aggregation: solute
// particles random-walk through the box and stick when they arrive next to the crystal. The
// crystal is drawn as textured cubes coloured by generation, and ship bullets chip it.
//
// Cell (i, j, k) is the unit cube [i, i+1] x [j, j+1] x [k, k+1] of the node's own
// coordinates.

#include <cstdint>

#include "foundation/dynarray.h"
#include "scene/vnode.h"

struct CellPos {
    int16_t x, y, z;
};

// Which of the crystal's open faces the drawing lists, and in what order.
enum class FaceChoice : uint8_t {
    facing,             // those that face the eye, nearest cells first
    all_nearest_first,  // all, nearest cells first, a cell's facing ones before the others
    all_as_listed,      // all, newest cell first, each cell's in the order -x +x -y +y -z +z
};

// A corner of a drawn face: the colour of its cell, the texture corner and the position.
struct FaceVertex {
    float colour[3];
    int16_t tex[2];
    int16_t pos[3];
    int16_t pad;
};

// A corner of a solute cube's face.
struct CubeVertex {
    int16_t tex[2];
    int16_t pos[3];
    int16_t pad;
};

// What the box keeps for drawing. The crystal's faces as the latest plot listed them, four
// vertices a face, are listed again only when the crystal has changed, the eye has moved into
// another cell or another choice of faces is wanted.
struct DendriteDrawing {
    FaceVertex* vertices;
    uint32_t faces;
    uint32_t capacity;         // vertices there is room for
    uint32_t crystal_changes;  // the box's count when they were built
    int32_t eye_cell[3];
    uint8_t eye_on_plane;      // bit i: the eye lay exactly on a cell boundary of axis i
    FaceChoice choice;
    uint8_t built;
    uint32_t* buckets;         // counting-sort scratch, one per distance class
    uint32_t bucket_count;
    float (*colours)[3];       // dendrite_colour of each generation met so far
    uint32_t colour_count;
    CubeVertex* solute;        // the solute cubes, rebuilt at each plot that shows them
    uint32_t solute_capacity;  // vertices there is room for
};

struct Dendrite : VNode {
    int32_t size_x, size_y, size_z;
    // cells[x][y][z]: 0 empty, else the crystal cell's generation (the seed is 1).
    int16_t*** cells;
    DynArray solute;   // of CellPos: the walking particles (several may share a cell)
    DynArray crystal;  // of CellPos: every crystal cell, in order of attachment
    // Per cell, at x * size_y * size_z + y * size_z + z: bit f set for each face f (-x, +x,
    // -y, +y, -z, +z) of a crystal cell whose neighbour beyond is empty or outside the box.
    // Kept up to date with every change of a cell, as is the count of those changes.
    uint8_t* open_faces;
    uint32_t crystal_changes;
    DendriteDrawing drawing;
};

extern const ThingType dendrite_type;

// Cube-face texture: 0 until the first plot.
extern unsigned dendrite_texture_name;
// Explosion sprite of crystal hits: 0 until the first hit.
extern unsigned dendrite_splode_texture;
// Draw the solute as faint cubes; toggled by the space bar while a box is drawn.
extern unsigned char show_solute;

// Cell coordinates are 16-bit: each size is held to 1 .. DENDRITE_MAX_SIZE.
constexpr int32_t DENDRITE_MAX_SIZE = 32767;

// A box with its seed in the middle cell and truncate(cells x density) + 1 solute particles
// at random cells. A negative or non-finite density counts as 0. Without a parent the box
// uses the shared identity frame, so its cell coordinates are those of the world.
Dendrite* dendrite_create(int32_t size_x, int32_t size_y, int32_t size_z, double density,
                          VNode* parent);
// Sets an empty cell to value and lists it in crystal; a filled cell stays as it is.
void crystallise(Dendrite* d, int32_t x, int32_t y, int32_t z, int16_t value);
// Generation to colour, each channel in [0, 1]; the hue cycles every 2 pi size_x / 4
// generations.
void dendrite_colour(const Dendrite* d, int32_t value, float* red, float* green, float* blue);
// The cell's value, or 0 outside the box.
int16_t dendrite_cell(const Dendrite* d, int32_t x, int32_t y, int32_t z);

// One random-walk step for every particle (dt is not used): each moves to one of its six
// face neighbours (wrapping round the box) or stays, then sticks when a neighbour inside the
// box is crystal.
void dendrite_advance(VNode* node, double dt);
// Draws the crystal's faces nearest first and only those facing the eye: with depth testing
// the picture is the same as drawing every open face, and no hidden pixel is textured twice.
// When the near clipping plane may cut into the crystal the faces turned away are drawn as
// well (behind the nearest ones), for then they can be what the eye sees; with polygons drawn
// as lines or points, where every face shows, all of them in the order of the crystal list.
void dendrite_plot(VNode* node);
// Brings d->drawing up to date for an eye at eye (box coordinates).
void dendrite_faces_update(Dendrite* d, Vec3 eye, FaceChoice choice);
// Whether a crystal cell lies within reach of the eye (box coordinates).
bool dendrite_crystal_within(const Dendrite* d, Vec3 eye, double reach);
// A ship's bullet removes the first crystal cell its path of the last frame crossed.
void dendrite_collide(VNode* node, VNode* other);
void dendrite_free(VNode* node);

// n x n luminance texels, rows padded to 4 bytes: speckled grey faces with bright borders
// line_width x n wide. Release with checked_free.
unsigned char* dendrite_texture_image(int n, double line_width);
unsigned dendrite_texture();
