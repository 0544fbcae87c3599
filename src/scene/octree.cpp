#include "scene/octree.h"

#include <cmath>

namespace {

constexpr uint32_t POOL_START = 10000;     // cells of the first pool
constexpr uint32_t POOL_HEADROOM = 1000;   // free cells wanted before each node
constexpr uint32_t POOL_GUARD = 8;         // free cells needed to descend one level

// Octant o of the cell, taken from the pool if it was not there yet. The
// cells may move to a larger block meanwhile; indices stay valid.
uint32_t child_made(Octree& tree, uint32_t cell, int o) {
    Scratch<Cell>& cells = tree.cells;
    if (!cells.data[cell].block) {
        uint32_t block = cells.count;
        cells.reserve(block + 8);
        cells.count = block + 8;
        for (uint32_t k = block; k < block + 8; k++) cells.data[k] = Cell{0, 0, 0, 0};
        cells.data[cell].block = block;
    }
    Cell& c = cells.data[cell];
    if (!((c.made >> o) & 1)) {
        c.made |= 1u << o;
        tree.pool.used++;
    }
    return c.block + static_cast<uint32_t>(o);
}

void cell_store(Octree& tree, uint32_t cell, uint32_t node) {
    tree.cells.data[cell].count++;
    tree.stored.push(Stored{cell, node});
}

// A box doubled, as each octant sees it after one subtraction: u' = 2u in
// the lower half of an axis, u' = 2u - 1 in the upper. The box overlaps the
// lower half when its minimum is below 0.5, the upper half when its maximum
// is 0.5 or more.
struct Split {
    double lo[3], hi[3];
    unsigned halves[3];  // bit 0: the lower half, bit 1: the upper

    explicit Split(const Box& box) {
        for (int a = 0; a < 3; a++) {
            lo[a] = 2.0 * box.min[a];
            hi[a] = 2.0 * box.max[a];
            halves[a] = (box.min[a] < 0.5 ? 1u : 0u) | (box.max[a] >= 0.5 ? 2u : 0u);
        }
    }
    // True when the box spans at most two adjacent halves on every axis, so
    // that it goes down into the octants: the half-cell indices trunc(2u + 10)
    // of its minimum and maximum differ by less than 2. Values too large to
    // convert to integers exactly (huge, infinite or NaN) are truncated in
    // floating point; a NaN span stays in the cell.
    bool fits() const {
        for (int a = 0; a < 3; a++) {
            double k_hi = hi[a] + 10.0, k_lo = lo[a] + 10.0;
            bool narrow = std::fabs(k_hi) < 1e15 && std::fabs(k_lo) < 1e15
                              ? static_cast<int64_t>(k_hi) - static_cast<int64_t>(k_lo) < 2
                              : std::trunc(k_hi) - std::trunc(k_lo) < 2.0;
            if (!narrow) return false;
        }
        return true;
    }
    // The octant of a box within one half on every axis, or -1.
    int only_octant() const {
        for (unsigned h : halves)
            if (h != 1 && h != 2) return -1;
        return static_cast<int>((halves[0] >> 1) | (halves[1] & 2) | ((halves[2] >> 1) << 2));
    }
    Box in_octant(int o) const {
        double x = o & 1, y = (o >> 1) & 1, z = o >> 2;
        return Box{{lo[0] - x, lo[1] - y, lo[2] - z}, {hi[0] - x, hi[1] - y, hi[2] - z}};
    }
};

// Calls visit(o, inner) for every octant o that the box overlaps, in index
// order (x + 2y + 4z, 1 for the upper half), with the box in the octant's
// coordinates.
template <class Visit>
void for_octants(const Split& split, Visit visit) {
    for (int o = 0; o < 8; o++) {
        if ((split.halves[0] >> (o & 1)) & (split.halves[1] >> ((o >> 1) & 1)) & (split.halves[2] >> (o >> 2)) & 1)
            visit(o, split.in_octant(o));
    }
}

// The pool only grows between nodes, so no cell moves while one node goes in.
// A box that stays within one octant goes down without recursion.
void insert(Octree& tree, uint32_t cell, const Box& outer, uint32_t node) {
    Box box = outer;
    for (;;) {
        tree.paths.push(cell);
        Split split(box);
        if (!split.fits()) break;
        if (tree.pool.capacity < tree.pool.used + POOL_GUARD) {
            tree.path_held = true;
            break;
        }
        int o = split.only_octant();
        if (o < 0) {
            for_octants(split, [&](int octant, const Box& inner) {
                insert(tree, child_made(tree, cell, octant), inner, node);
            });
            return;
        }
        cell = child_made(tree, cell, o);
        box = split.in_octant(o);
    }
    cell_store(tree, cell, node);
}

}  // namespace

void octree_open(Octree& tree) {
    if (tree.pool.capacity != 0) return;
    tree.pool.capacity = POOL_START;
    tree.cells.push(Cell{0, 0, 0, 0});  // the root
}

void octree_number(Octree& tree, uint32_t count) {
    tree.marks.reserve(count);
    tree.marks.count = count;
    for (uint32_t n = 0; n < count; n++) tree.marks.data[n] = tree.query_stamp;
}

uint32_t octree_insert(Octree& tree, const Box& box, uint32_t node) {
    while (tree.pool.used > tree.pool.capacity - POOL_HEADROOM) tree.pool.capacity *= 2;
    uint32_t first = tree.paths.count;
    tree.path_held = false;
    insert(tree, OCTREE_ROOT, box, node);
    return tree.path_held ? NO_PATH : tree.paths.count - first;
}

// Each run in the order its nodes were stored.
void octree_sort_items(Octree& tree) {
    Scratch<Cell>& cells = tree.cells;
    uint32_t end = 0;
    for (uint32_t k = 0; k < cells.count; k++) {
        end += cells.data[k].count;
        cells.data[k].first = end;  // one past the run until the nodes are placed
    }
    tree.items.reserve(tree.stored.count);
    tree.items.count = tree.stored.count;
    for (uint32_t i = tree.stored.count; i-- > 0;) {
        const Stored& s = tree.stored.data[i];
        tree.items.data[--cells.data[s.cell].first] = s.node;
    }
}

void octree_query(Octree& tree, uint32_t k, const Box& box, Scratch<uint32_t>& list) {
    octree_take_cell(tree, k, list);
    Split split(box);
    if (!split.fits()) return;
    Cell cell = tree.cells.data[k];
    for_octants(split, [&](int o, const Box& inner) {
        if ((cell.made >> o) & 1) octree_query(tree, cell.block + static_cast<uint32_t>(o), inner, list);
    });
}

void octree_release(Octree& tree) {
    tree.pool.used = 0;
    tree.cells.count = 1;
    tree.cells.data[OCTREE_ROOT] = Cell{0, 0, 0, 0};
    tree.paths.count = 0;
    tree.stored.count = 0;
    tree.items.count = 0;
}
