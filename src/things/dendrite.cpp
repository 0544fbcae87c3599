#include "things/dendrite.h"

#include <cmath>

#include "foundation/memory.h"
#include "foundation/random.h"
#include "things/dendrite_internal.h"

const ThingType dendrite_type = {"Dendrite", sizeof(Dendrite), dendrite_advance, dendrite_plot,
                                 dendrite_collide, dendrite_free};

namespace {

int32_t clamp_size(int32_t s) {
    if (s < 1) return 1;
    return s > DENDRITE_MAX_SIZE ? DENDRITE_MAX_SIZE : s;
}

int16_t*** alloc_cells(int32_t sx, int32_t sy, int32_t sz) {
    int16_t*** cells = static_cast<int16_t***>(checked_malloc_array(sx, sizeof(int16_t**)));
    for (int32_t x = 0; x < sx; x++) {
        cells[x] = static_cast<int16_t**>(checked_malloc_array(sy, sizeof(int16_t*)));
        for (int32_t y = 0; y < sy; y++) {
            cells[x][y] = static_cast<int16_t*>(checked_calloc(sz, sizeof(int16_t)));
        }
    }
    return cells;
}

int32_t wrap(int32_t v, int32_t size) {
    if (v >= size) return v - size;
    if (v < 0) return v + size;
    return v;
}

// Whether any of the six face neighbours is crystal, and the largest of them. Each
// coordinate is held inside the box: at a face of the box the neighbour read is the
// particle's own cell, never one across the wrap.
bool any_neighbour(const Dendrite* d, int32_t x, int32_t y, int32_t z, int16_t* largest) {
    const int32_t xp = x + 1 < d->size_x ? x + 1 : d->size_x - 1;
    const int32_t xm = x > 0 ? x - 1 : 0;
    const int32_t yp = y + 1 < d->size_y ? y + 1 : d->size_y - 1;
    const int32_t ym = y > 0 ? y - 1 : 0;
    const int32_t zp = z + 1 < d->size_z ? z + 1 : d->size_z - 1;
    const int32_t zm = z > 0 ? z - 1 : 0;
    int16_t*** c = d->cells;
    const int16_t around[6] = {c[xp][y][z], c[xm][y][z], c[x][yp][z],
                               c[x][ym][z], c[x][y][zp], c[x][y][zm]};
    bool any = false;
    int16_t best = 0;
    for (int16_t v : around) {
        if (v == 0) continue;
        if (!any || v > best) best = v;
        any = true;
    }
    *largest = best;
    return any;
}


// Bit f for face f of a crystal cell whose neighbour beyond is empty or outside the box.
uint8_t open_faces_of(const Dendrite* d, int32_t x, int32_t y, int32_t z) {
    if (d->cells[x][y][z] == 0) return 0;
    unsigned mask = 0;
    for (unsigned f = 0; f < 6; f++) {
        const int8_t* s = face_shapes[f].step;
        if (dendrite_cell(d, x + s[0], y + s[1], z + s[2]) == 0) mask |= 1u << f;
    }
    return static_cast<uint8_t>(mask);
}

}  // namespace

// After cell (x, y, z) has changed: its open faces and those of its neighbours.
void dendrite_cell_changed(Dendrite* d, int32_t x, int32_t y, int32_t z) {
    d->crystal_changes++;
    d->open_faces[cell_index(d, x, y, z)] = open_faces_of(d, x, y, z);
    for (const FaceShape& f : face_shapes) {
        const int32_t nx = x + f.step[0], ny = y + f.step[1], nz = z + f.step[2];
        if (nx < 0 || ny < 0 || nz < 0 || nx >= d->size_x || ny >= d->size_y || nz >= d->size_z) {
            continue;
        }
        d->open_faces[cell_index(d, nx, ny, nz)] = open_faces_of(d, nx, ny, nz);
    }
}

Dendrite* dendrite_create(int32_t size_x, int32_t size_y, int32_t size_z, double density,
                          VNode* parent) {
    Dendrite* d = VNode_as<Dendrite>(VNode_create(&dendrite_type, parent));
    d->size_x = clamp_size(size_x);
    d->size_y = clamp_size(size_y);
    d->size_z = clamp_size(size_z);
    const int64_t cells = int64_t{d->size_x} * d->size_y * d->size_z;
    d->bound.centre = Vec3{0.5 * d->size_x, 0.5 * d->size_y, 0.5 * d->size_z};
    d->bound.radius = 0.5 * std::sqrt(static_cast<double>(int64_t{d->size_x} * d->size_x +
                                                          int64_t{d->size_y} * d->size_y +
                                                          int64_t{d->size_z} * d->size_z));
    d->world_centre = frame_point_to_world(&d->frame->current, d->bound.centre.x,
                                           d->bound.centre.y, d->bound.centre.z);
    d->start_centre = d->world_centre;
    d->cells = alloc_cells(d->size_x, d->size_y, d->size_z);
    d->open_faces = static_cast<uint8_t*>(checked_calloc(static_cast<std::size_t>(cells), 1));
    DynArray_init_of<CellPos>(&d->solute);
    DynArray_init_of<CellPos>(&d->crystal);
    crystallise(d, d->size_x / 2, d->size_y / 2, d->size_z / 2, 1);

    if (!(density > 0.0) || !std::isfinite(density)) density = 0.0;
    const double wanted = std::trunc(static_cast<double>(cells) * density);
    // Far more particles than 16-bit cell lists could ever need would only exhaust memory.
    const int64_t n = wanted < 1e9 ? static_cast<int64_t>(wanted) : int64_t{1000000000};
    for (int64_t i = 0; i <= n; i++) {
        CellPos p;
        p.x = static_cast<int16_t>(random_int(d->size_x));
        p.y = static_cast<int16_t>(random_int(d->size_y));
        p.z = static_cast<int16_t>(random_int(d->size_z));
        DynArray_push_value(&d->solute, p);
    }
    return d;
}

void dendrite_free(VNode* node) {
    Dendrite* d = VNode_as<Dendrite>(node);
    if (d->cells) {
        for (int32_t x = 0; x < d->size_x; x++) {
            for (int32_t y = 0; y < d->size_y; y++) checked_free(d->cells[x][y]);
            checked_free(d->cells[x]);
        }
        checked_free(d->cells);
        d->cells = nullptr;
    }
    checked_free(d->open_faces);
    d->open_faces = nullptr;
    DynArray_free(d->solute);
    DynArray_free(d->crystal);
    DendriteDrawing* w = &d->drawing;
    checked_free(w->vertices);
    checked_free(w->buckets);
    checked_free(w->colours);
    checked_free(w->solute);
    *w = DendriteDrawing{};
}

void crystallise(Dendrite* d, int32_t x, int32_t y, int32_t z, int16_t value) {
    if (d->cells[x][y][z] != 0) return;
    d->cells[x][y][z] = value;
    dendrite_cell_changed(d, x, y, z);
    CellPos p{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
    DynArray_push_value(&d->crystal, p);
}

int16_t dendrite_cell(const Dendrite* d, int32_t x, int32_t y, int32_t z) {
    if (x < 0 || y < 0 || z < 0 || x >= d->size_x || y >= d->size_y || z >= d->size_z) return 0;
    return d->cells[x][y][z];
}

void dendrite_colour(const Dendrite* d, int32_t value, float* red, float* green, float* blue) {
    const double a = (4.0 / d->size_x) * value;
    *red = static_cast<float>(0.5 * std::cos(a) + 0.5);
    *green = static_cast<float>(0.5 * std::sin(a) + 0.5);
    *blue = static_cast<float>(0.5 - 0.5 * std::cos(a));
}

void dendrite_advance(VNode* node, double) {
    Dendrite* d = VNode_as<Dendrite>(node);
    for (uint32_t i = d->solute.count; i-- > 0;) {
        CellPos* p = &DynArray_at<CellPos>(&d->solute, i);
        int32_t x = p->x, y = p->y, z = p->z;
        switch (random_int(7)) {
            case 1: x = wrap(x + 1, d->size_x); break;
            case 2: x = wrap(x - 1, d->size_x); break;
            case 3: y = wrap(y + 1, d->size_y); break;
            case 4: y = wrap(y - 1, d->size_y); break;
            case 5: z = wrap(z + 1, d->size_z); break;
            case 6: z = wrap(z - 1, d->size_z); break;
            default: break;
        }
        *p = CellPos{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
        int16_t largest = 0;
        if (!any_neighbour(d, x, y, z, &largest)) continue;
        const int16_t generation = largest < INT16_MAX ? static_cast<int16_t>(largest + 1) : largest;
        crystallise(d, x, y, z, generation);
        // The last particle moves into the hole; it has been stepped already.
        DynArray_remove(&d->solute, i);
    }
}
