#include "scene/collide.h"

#include <cmath>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/errorlog.h"
#include "platform/profile.h"

namespace {

constexpr uint32_t POOL_START = 10000;     // cells of the first pool
constexpr uint32_t POOL_HEADROOM = 1000;   // free cells wanted before each node
constexpr uint32_t POOL_GUARD = 8;         // free cells needed to descend one level
constexpr double SMALLEST_EXTENT = 0.01;   // keeps point-sized nodes from descending without end

// Minimum x, y, z then maximum x, y, z.
struct Box {
    double min[3];
    double max[3];
};

// A growable array of plain values for the pass's own lists: it doubles when
// full and keeps its storage from pass to pass.
template <class T>
struct Scratch {
    T* data = nullptr;
    uint32_t count = 0;
    uint32_t room = 0;

    void reserve(uint32_t wanted) {
        if (wanted <= room) return;
        uint32_t grown = room < 32 ? 64 : room * 2;
        room = grown > wanted ? grown : wanted;
        data = static_cast<T*>(checked_realloc(data, std::size_t{room} * sizeof(T)));
    }
    void push(T value) {
        if (count == room) reserve(count + 1);
        data[count++] = value;
    }
};

// Cells link to their octants by index: 0 is the root, which is never an
// octant, so a link of 0 means no octant. Cell k > 0 is the pool's k-th.
// The nodes stored in a cell sit together in the item list, in the order
// they were stored, from `first` on.
constexpr uint32_t ROOT = 0;

struct CollideCell {
    uint32_t child[8];  // octant x + 2y + 4z, 1 for the upper half
    uint32_t count;
    uint32_t first;
};

// Room for the root and `capacity` pooled cells. Cells are handed out in
// order and all returned at the end of each pass; the capacity only counts
// and grows as the pass's rules say, since the moment a node stops descending
// depends on it.
struct CellPool {
    CollideCell* cells;
    uint32_t capacity;
    uint32_t used;
};
CellPool pool = {nullptr, 0, 0};

// Every node of the octree by number (the order they were added), with the
// number of the last query that took it as a candidate.
struct Added {
    VNode* node;
    uint32_t stamp;
};
Scratch<Added> added;

// A node stored in a cell, as the add walk stores it; sorted by cell into
// `items` once every node is in.
struct Stored {
    uint32_t cell;
    uint32_t node;
};
Scratch<Stored> stored;
Scratch<uint32_t> items;

// The candidates of the query under way, each node once, in the order first met.
Scratch<VNode*> candidates;
uint32_t query_stamp = 0;

CollideStats stats = {0, 0, 0};

// The world box of the pass under way.
Box world_box;

void cell_reset(CollideCell* cell) {
    for (uint32_t& link : cell->child) link = 0;
    cell->count = 0;
}

uint32_t pool_take() {
    uint32_t k = ++pool.used;
    cell_reset(&pool.cells[k]);
    return k;
}

// Indices stay valid when the cells move to a larger block.
void pool_grow() {
    pool.capacity *= 2;
    pool.cells = static_cast<CollideCell*>(
        checked_realloc(pool.cells, (std::size_t{pool.capacity} + 1) * sizeof(CollideCell)));
}

void cell_store(uint32_t cell, uint32_t node) {
    pool.cells[cell].count++;
    stored.push(Stored{cell, node});
}

// Gives every cell its run of the item list, in cell order, each run in the
// order its nodes were stored.
void sort_items() {
    uint32_t end = 0;
    for (uint32_t k = 0; k <= pool.used; k++) {
        end += pool.cells[k].count;
        pool.cells[k].first = end;  // one past the run until the nodes are placed
    }
    items.reserve(stored.count);
    items.count = stored.count;
    for (uint32_t i = stored.count; i-- > 0;) {
        const Stored& s = stored.data[i];
        items.data[--pool.cells[s.cell].first] = s.node;
    }
}

// Swept box of a node: its sphere from start to now, grown by e on each side.
Box swept_box(const VNode* node, double e) {
    const double start[3] = {node->start_centre.x, node->start_centre.y, node->start_centre.z};
    const double now[3] = {node->world_centre.x, node->world_centre.y, node->world_centre.z};
    Box box;
    for (int a = 0; a < 3; a++) {
        box.min[a] = min_d(start[a], now[a]) - e;
        box.max[a] = max_d(start[a], now[a]) + e;
    }
    return box;
}

Box normalised_box(const VNode* node, const Box& world) {
    double r = node->bound.radius;
    Box box = swept_box(node, r > SMALLEST_EXTENT ? r : SMALLEST_EXTENT);
    for (int a = 0; a < 3; a++) {
        double extent = world.max[a] - world.min[a];
        box.min[a] = (box.min[a] - world.min[a]) / extent;
        box.max[a] = (box.max[a] - world.min[a]) / extent;
    }
    return box;
}

// Half-cell index trunc(2u + 10), kept in floating point so that no value of
// u (huge, infinite or NaN) is ever converted to an integer.
double half_index(double u) { return std::trunc(2.0 * u + 10.0); }

// True when the box spans at most two adjacent halves on every axis, so that
// it goes down into the octants. A NaN span stays in the cell.
bool fits_octants(const Box& box) {
    for (int a = 0; a < 3; a++)
        if (!(half_index(box.max[a]) - half_index(box.min[a]) < 2.0)) return false;
    return true;
}

// The halves of each axis that a box overlaps, with the box carried into
// each half's coordinates: u' = 2u below 0.5, u' = 2u - 1 above.
struct Halves {
    bool lower[3], upper[3];
    Box in_lower, in_upper;
};

Halves split(const Box& box) {
    Halves h;
    for (int a = 0; a < 3; a++) {
        h.lower[a] = box.min[a] < 0.5;
        h.upper[a] = box.max[a] >= 0.5;
        h.in_lower.min[a] = 2.0 * box.min[a];
        h.in_lower.max[a] = 2.0 * box.max[a];
        h.in_upper.min[a] = 2.0 * box.min[a] - 1.0;
        h.in_upper.max[a] = 2.0 * box.max[a] - 1.0;
    }
    return h;
}

// Whether the box overlaps octant o (x + 2y + 4z) and, if so, the box in its
// coordinates.
bool octant_box(const Halves& h, int o, Box* out) {
    for (int a = 0; a < 3; a++) {
        bool up = (o >> a) & 1;
        if (!(up ? h.upper[a] : h.lower[a])) return false;
        const Box& from = up ? h.in_upper : h.in_lower;
        out->min[a] = from.min[a];
        out->max[a] = from.max[a];
    }
    return true;
}

// The pool only grows between nodes, so no cell moves while one node goes in.
void insert(uint32_t cell, const Box& box, uint32_t node) {
    if (!fits_octants(box) || pool.capacity < pool.used + POOL_GUARD) {
        cell_store(cell, node);
        return;
    }
    Halves h = split(box);
    for (int o = 0; o < 8; o++) {
        Box inner;
        if (!octant_box(h, o, &inner)) continue;
        if (!pool.cells[cell].child[o]) pool.cells[cell].child[o] = pool_take();
        insert(pool.cells[cell].child[o], inner, node);
    }
}

void candidate_add(uint32_t number) {
    Added& a = added.data[number];
    if (a.stamp == query_stamp) return;
    a.stamp = query_stamp;
    candidates.push(a.node);
    // The swept test reads the sphere and the centres; fetch them while the
    // query goes on.
    __builtin_prefetch(&a.node->bound.radius);
    __builtin_prefetch(&a.node->start_centre.z);
}

void query(uint32_t k, const Box& box) {
    const CollideCell& cell = pool.cells[k];
    // The first six stored, last first, then the rest, last first.
    const uint32_t* run = items.data + cell.first;
    uint32_t head = cell.count < 6 ? cell.count : 6;
    for (uint32_t i = head; i-- > 0;) candidate_add(run[i]);
    for (uint32_t i = cell.count; i-- > head;) candidate_add(run[i]);
    // Nodes stored below a cell are not reported to a box too large to descend.
    if (!fits_octants(box)) return;
    Halves h = split(box);
    for (int o = 0; o < 8; o++) {
        Box inner;
        if (cell.child[o] && octant_box(h, o, &inner)) query(cell.child[o], inner);
    }
}

void add_node(VNode* node) {
    while (pool.used > pool.capacity - POOL_HEADROOM) pool_grow();
    uint32_t number = added.count;
    added.push(Added{node, query_stamp});
    insert(ROOT, normalised_box(node, world_box), number);
}

void add_walk(VNode* node) {
    if (!(node->flags & VN_NO_COLLIDE)) add_node(node);
    for (uint32_t i = VNode_child_count(node); i-- > 0;) add_walk(VNode_child(node, i));
}

void next_query() {
    if (++query_stamp == 0) {  // the stamps wrapped: forget every old one
        for (uint32_t i = 0; i < added.count; i++) added.data[i].stamp = 0;
        query_stamp = 1;
    }
}

void test_node(VNode* a) {
    next_query();
    candidates.count = 0;
    query(ROOT, normalised_box(a, world_box));
    if (candidates.count > stats.candidates_most) stats.candidates_most = candidates.count;
    for (uint32_t i = candidates.count; i-- > 0;) {
        VNode* b = candidates.data[i];
        if (b == a || !VNode_swept_hit(a, b)) continue;
        if (a->type->collide) a->type->collide(a, b);
        if (b->type->collide) b->type->collide(b, a);
    }
}

void detect_walk(VNode* node) {
    if (!(node->flags & VN_NO_COLLIDE)) test_node(node);
    // Handlers may add or remove children: the count is read at every step.
    for (uint32_t i = 0; i < node->children.count; i++) detect_walk(VNode_child(node, i));
}

// Returns every cell to the pool at once; the lists keep their storage.
void release() {
    pool.used = 0;
    cell_reset(&pool.cells[ROOT]);
    added.count = 0;
    stored.count = 0;
    items.count = 0;
}

}  // namespace

bool VNode_swept_hit(const VNode* a, const VNode* b) {
    Vec3 at_start = vec3_sub(b->start_centre, a->start_centre);
    Vec3 at_now = vec3_sub(b->world_centre, a->world_centre);
    double d0 = vec3_len2(at_start);
    double d1 = vec3_len2(at_now);
    double dot = vec3_dot(at_start, at_now);
    double reach = sq(a->bound.radius + b->bound.radius);
    if (reach >= d1 || reach >= d0) return true;
    // The closest approach must fall strictly between start and now.
    if (dot >= d1 || dot >= d0) return false;
    return d0 * d1 - dot * dot <= (d0 + d1 - 2.0 * dot) * reach;
}

void VNode_collide(VNode* world) {
    if (pool.capacity == 0) {
        pool.capacity = POOL_START;
        pool.cells = static_cast<CollideCell*>(checked_malloc_array(POOL_START + 1, sizeof(CollideCell)));
    }
    cell_reset(&pool.cells[ROOT]);
    stats.candidates_most = 0;

    profile_section("VNode_collide:bounds", 0x808000);
    // The world's own sphere, without the floor, bounds the volume. A NaN
    // anywhere among the world's children reaches every value of that sphere.
    world_box = swept_box(world, world->bound.radius);
    if (std::isnan(world_box.min[0]) || std::isnan(world_box.max[2]))
        fatal_error("Bounds of the world volume are corrupted in VNode_collide");

    profile_section("VNode_collide_add", 0xFF0000);
    add_walk(world);
    sort_items();
    stats.cells_used = pool.used;
    stats.pool_capacity = pool.capacity;

    profile_section("VNode_collide_detect", 0x00C000);
    VNode_begin_deferral();
    detect_walk(world);
    VNode_end_deferral();

    profile_section("VNode_collide:free", 0x0000FF);
    release();
}

CollideStats collide_stats() { return stats; }
