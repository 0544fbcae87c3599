#pragma once
// The loose octree of the collision pass, over a volume scaled to the unit
// cube: nodes (by number) go in with their boxes, and a query lists the
// numbers stored in every cell its box reaches. It is built afresh every pass
// in a pool of cells kept from pass to pass.

#include <cstdint>

#include "scene/scratch.h"

// Minimum x, y, z then maximum x, y, z.
struct Box {
    double min[3];
    double max[3];
};

// Cells sit in blocks of eight, one block for the octants of each cell that
// has any: octant o (x + 2y + 4z, 1 for the upper half) of a cell is cell
// block + o, so that neighbouring cells lie side by side in memory. Cell 0 is
// the root. The nodes stored in a cell sit together in the item list, in the
// order they were stored, from `first` on.
constexpr uint32_t OCTREE_ROOT = 0;

struct Cell {
    uint32_t block;  // the cell of octant 0; 0 while the cell has no octants
    uint32_t made;   // bit o: octant o was taken from the pool
    uint32_t first;
    uint32_t count;
};

// The pool as the pass counts it: octants are taken one by one up to a
// capacity that starts at 10,000 and doubles, and all are returned at the
// end of each pass. A node stops descending when fewer than 8 remain, so the
// counts follow these rules whatever the blocks hold.
struct CellPool {
    uint32_t capacity;
    uint32_t used;
};

// A node stored in a cell, as insertion stores it; sorted by cell into
// `items` once every node is in.
struct Stored {
    uint32_t cell;
    uint32_t node;
};

// The path count of a node that the pool guard held back.
constexpr uint32_t NO_PATH = UINT32_MAX;

struct Octree {
    Scratch<Cell> cells;
    CellPool pool = {0, 0};
    Scratch<Stored> stored;
    Scratch<uint32_t> items;
    // The cells each insertion passed through, in order, one run per node.
    Scratch<uint32_t> paths;
    // By number: the last query that took the node.
    Scratch<uint32_t> marks;
    uint32_t query_stamp = 0;
    bool path_held = false;  // the guard stopped the insertion under way
};

// Sets up the pool and the root on first use; later calls do nothing.
void octree_open(Octree& tree);

// Numbers 0 .. count - 1 are this pass's nodes: each gets a mark, taken by no
// query yet.
void octree_number(Octree& tree, uint32_t count);

// Stores node under every cell its box (in unit-cube coordinates) reaches,
// appending the cells passed through to `paths`. Returns how many it
// appended, or NO_PATH when the pool guard held the node back: a query with
// the same box then goes further down, into cells made after it.
uint32_t octree_insert(Octree& tree, const Box& box, uint32_t node);

// Gives every cell its run of the item list, once every node is in.
void octree_sort_items(Octree& tree);

// Starts a new query: no node is taken by it yet.
inline void octree_next_query(Octree& tree) {
    if (++tree.query_stamp == 0) {  // the marks wrapped: forget every old one
        for (uint32_t i = 0; i < tree.marks.count; i++) tree.marks.data[i] = 0;
        tree.query_stamp = 1;
    }
}

// Enters the node at the end of the list unless this query has it already;
// returns the list's new count.
inline uint32_t octree_candidate_add(uint32_t* marks, uint32_t* list, uint32_t count, uint32_t number,
                                     uint32_t query) {
    list[count] = number;
    count += marks[number] != query;
    marks[number] = query;
    return count;
}

// Appends the nodes stored in cell k that the query under way has not taken:
// the first six stored, last first, then the rest, last first. Inline, for
// the pass gathers along paths cell by cell. The count is kept in a
// register: the list's own count could alias the stores.
inline void octree_take_cell(Octree& tree, uint32_t k, Scratch<uint32_t>& list) {
    Cell cell = tree.cells.data[k];
    if (cell.count == 0) return;
    list.reserve(list.count + cell.count);
    uint32_t* out = list.data;
    uint32_t* marks = tree.marks.data;
    uint32_t count = list.count;
    const uint32_t query = tree.query_stamp;
    const uint32_t* run = tree.items.data + cell.first;
    uint32_t head = cell.count < 6 ? cell.count : 6;
    for (uint32_t i = head; i-- > 0;) count = octree_candidate_add(marks, out, count, run[i], query);
    for (uint32_t i = cell.count; i-- > head;) count = octree_candidate_add(marks, out, count, run[i], query);
    list.count = count;
}

// Appends the nodes of cell k and of every cell below it that the box (in
// k's coordinates) reaches. Nodes stored below a cell are not reported to a
// box too large to descend.
void octree_query(Octree& tree, uint32_t k, const Box& box, Scratch<uint32_t>& list);

// Returns every cell to the pool at once; the lists keep their storage.
void octree_release(Octree& tree);
