#pragma once
// What the box's growth, drawing and chipping share: the six faces of a cell, the
// index of a cell in the per-cell tables, and the bookkeeping after a cell changes.

#include <cstddef>
#include <cstdint>

#include "things/dendrite.h"

// The six faces of a cell in the order -x, +x, -y, +y, -z, +z: the step to the neighbour
// beyond each, and its four corners as offsets from the cell's low corner.
struct FaceShape {
    int8_t step[3];
    int8_t corner[4][3];
};
inline constexpr FaceShape face_shapes[6] = {
    {{-1, 0, 0}, {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}},
    {{1, 0, 0}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}},
    {{0, -1, 0}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}},
    {{0, 1, 0}, {{0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}}},
    {{0, 0, -1}, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
    {{0, 0, 1}, {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}},
};

inline std::size_t cell_index(const Dendrite* d, int32_t x, int32_t y, int32_t z) {
    return (static_cast<std::size_t>(x) * static_cast<std::size_t>(d->size_y) +
            static_cast<std::size_t>(y)) * static_cast<std::size_t>(d->size_z) +
           static_cast<std::size_t>(z);
}

// After cell (x, y, z) has changed: its open faces and those of its neighbours.
void dendrite_cell_changed(Dendrite* d, int32_t x, int32_t y, int32_t z);
