#include "scene/collide.h"

#include <cmath>
#include <cstring>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/errorlog.h"
#include "platform/profile.h"

namespace {

constexpr uint32_t CELL_ITEMS = 6;         // nodes held in the cell itself
constexpr uint32_t POOL_START = 10000;     // cells of the first pool
constexpr uint32_t POOL_HEADROOM = 1000;   // free cells wanted before each node
constexpr uint32_t POOL_GUARD = 8;         // free cells needed to descend one level
constexpr uint32_t CANDIDATE_ROOM = 10000; // entries of the candidate buffer
constexpr double SMALLEST_EXTENT = 0.01;   // keeps point-sized nodes from descending without end

// Minimum x, y, z then maximum x, y, z.
struct Box {
    double min[3];
    double max[3];
};

// An overflow block: its capacity, then that many node pointers.
struct alignas(VNode*) Overflow {
    uint32_t capacity;
};

VNode** overflow_entries(Overflow* block) { return reinterpret_cast<VNode**>(block + 1); }

Overflow* overflow_alloc(uint32_t capacity) {
    void* memory = checked_malloc(sizeof(Overflow) + std::size_t{capacity} * sizeof(VNode*));
    Overflow* block = static_cast<Overflow*>(memory);
    block->capacity = capacity;
    return block;
}

struct CollideCell {
    uint32_t count;
    VNode* items[CELL_ITEMS];
    Overflow* overflow;        // nodes 7 onwards; node n sits at n - 6
    CollideCell* child[8];     // octant x + 2y + 4z, 1 for the upper half
};

void cell_reset(CollideCell* cell) {
    cell->count = 0;
    cell->overflow = nullptr;
    for (CollideCell*& link : cell->child) link = nullptr;
}

// Cells are handed out in order and all returned at the end of each pass.
struct CellPool {
    CollideCell* cells;
    uint32_t capacity;
    uint32_t used;
};
CellPool pool = {nullptr, 0, 0};

// The candidate buffer, refilled by every query. Small lists are kept unique
// by comparing with every entry; past LINEAR_LIMIT entries a hash set of the
// entries takes over. Both keep the first appearance of each node, in order.
constexpr uint32_t LINEAR_LIMIT = 32;
constexpr uint32_t SEEN_BITS = 15;  // 32768 slots: at most a third full
constexpr uint32_t SEEN_SLOTS = 1u << SEEN_BITS;

struct SeenSlot {
    const VNode* node;
    uint32_t stamp;  // the slot is empty unless it equals seen_stamp
};

VNode* candidates[CANDIDATE_ROOM];
uint32_t candidate_count = 0;
SeenSlot* seen = nullptr;
uint32_t seen_stamp = 0;
bool seen_active = false;

CollideStats stats = {0, 0, 0};

// The octree of the pass under way: the world box and the root cell, which is
// not taken from the pool.
struct Context {
    Box world;
    CollideCell root;
};
Context context;

// Pool indices of the cells that were given an overflow block this pass, so
// that the release frees the blocks without walking the whole octree.
uint32_t* overflowed = nullptr;
uint32_t overflowed_count = 0;
uint32_t overflowed_room = 0;

void overflowed_push(uint32_t index) {
    if (overflowed_count == overflowed_room) {
        overflowed_room = overflowed_room ? overflowed_room * 2 : 64;
        overflowed = static_cast<uint32_t*>(checked_realloc(overflowed, overflowed_room * sizeof(uint32_t)));
    }
    overflowed[overflowed_count++] = index;
}

uint32_t seen_hash(const VNode* node) {
    uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node));
    return static_cast<uint32_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - SEEN_BITS));
}

// Enters node into the hash set; false when it was there already.
bool seen_insert(const VNode* node) {
    for (uint32_t i = seen_hash(node);; i = (i + 1) & (SEEN_SLOTS - 1)) {
        SeenSlot* slot = &seen[i];
        if (slot->stamp != seen_stamp) {
            slot->node = node;
            slot->stamp = seen_stamp;
            return true;
        }
        if (slot->node == node) return false;
    }
}

void candidates_begin() {
    candidate_count = 0;
    seen_active = false;
}

void seen_start() {
    if (!seen) seen = static_cast<SeenSlot*>(checked_calloc(SEEN_SLOTS, sizeof(SeenSlot)));
    if (++seen_stamp == 0) {  // the stamps wrapped: forget every old one
        std::memset(seen, 0, SEEN_SLOTS * sizeof(SeenSlot));
        seen_stamp = 1;
    }
    for (uint32_t i = 0; i < candidate_count; i++) seen_insert(candidates[i]);
    seen_active = true;
}

void candidate_add(VNode* node) {
    if (seen_active) {
        if (!seen_insert(node)) return;
    } else {
        for (uint32_t i = 0; i < candidate_count; i++)
            if (candidates[i] == node) return;
        if (candidate_count == LINEAR_LIMIT) {
            seen_start();
            seen_insert(node);
        }
    }
    candidates[candidate_count++] = node;
}

CollideCell* pool_take() {
    CollideCell* cell = &pool.cells[pool.used++];
    cell_reset(cell);
    return cell;
}

// Moves the pool to a block twice the size; every link, in the pool and in
// the root, is carried over to the same cell in the new block.
void pool_grow() {
    uint32_t capacity = pool.capacity * 2;
    CollideCell* moved = static_cast<CollideCell*>(checked_malloc_array(capacity, sizeof(CollideCell)));
    std::memcpy(moved, pool.cells, std::size_t{pool.used} * sizeof(CollideCell));
    auto rebase = [&](CollideCell* cell) {
        for (CollideCell*& link : cell->child)
            if (link) link = moved + (link - pool.cells);
    };
    rebase(&context.root);
    for (uint32_t i = 0; i < pool.used; i++) rebase(&moved[i]);
    checked_free(pool.cells);
    pool.cells = moved;
    pool.capacity = capacity;
}

void cell_store(CollideCell* cell, VNode* node) {
    if (cell->count < CELL_ITEMS) {
        cell->items[cell->count] = node;
    } else {
        if (!cell->overflow) {
            cell->overflow = overflow_alloc(CELL_ITEMS);
            if (cell != &context.root) overflowed_push(static_cast<uint32_t>(cell - pool.cells));
        } else if (cell->count >= cell->overflow->capacity + CELL_ITEMS) {
            Overflow* old = cell->overflow;
            Overflow* bigger = overflow_alloc(old->capacity * 2);
            std::memcpy(overflow_entries(bigger), overflow_entries(old), old->capacity * sizeof(VNode*));
            checked_free(old);
            cell->overflow = bigger;
        }
        overflow_entries(cell->overflow)[cell->count - CELL_ITEMS] = node;
    }
    cell->count++;
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

void insert(CollideCell* cell, const Box& box, VNode* node) {
    if (!fits_octants(box) || pool.capacity < pool.used + POOL_GUARD) {
        cell_store(cell, node);
        return;
    }
    Halves h = split(box);
    for (int o = 0; o < 8; o++) {
        Box inner;
        if (!octant_box(h, o, &inner)) continue;
        if (!cell->child[o]) cell->child[o] = pool_take();
        insert(cell->child[o], inner, node);
    }
}

void query(const CollideCell* cell, const Box& box) {
    // A cell that could overfill the buffer is left out with everything below.
    if (candidate_count + cell->count >= CANDIDATE_ROOM + 1) return;
    uint32_t in_items = cell->count < CELL_ITEMS ? cell->count : CELL_ITEMS;
    for (uint32_t i = in_items; i-- > 0;) candidate_add(cell->items[i]);
    if (cell->count > CELL_ITEMS) {
        VNode** entries = overflow_entries(cell->overflow);
        for (uint32_t i = cell->count - CELL_ITEMS; i-- > 0;) candidate_add(entries[i]);
    }
    // Nodes stored below a cell are not reported to a box too large to descend.
    if (!fits_octants(box)) return;
    Halves h = split(box);
    for (int o = 0; o < 8; o++) {
        Box inner;
        if (cell->child[o] && octant_box(h, o, &inner)) query(cell->child[o], inner);
    }
}

void add_node(VNode* node) {
    while (pool.used > pool.capacity - POOL_HEADROOM) pool_grow();
    insert(&context.root, normalised_box(node, context.world), node);
}

void add_walk(VNode* node) {
    if (!(node->flags & VN_NO_COLLIDE)) add_node(node);
    for (uint32_t i = VNode_child_count(node); i-- > 0;) add_walk(VNode_child(node, i));
}

void test_node(VNode* a) {
    candidates_begin();
    query(&context.root, normalised_box(a, context.world));
    if (candidate_count > stats.candidates_most) stats.candidates_most = candidate_count;
    for (uint32_t i = candidate_count; i-- > 0;) {
        VNode* b = candidates[i];
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

// Frees every overflow block and returns all cells to the pool at once.
void release() {
    for (uint32_t i = overflowed_count; i-- > 0;) {
        CollideCell* cell = &pool.cells[overflowed[i]];
        checked_free(cell->overflow);
        cell->overflow = nullptr;
    }
    overflowed_count = 0;
    for (CollideCell*& link : context.root.child) link = nullptr;
    pool.used = 0;
    if (context.root.overflow) checked_free(context.root.overflow);
    context.root.overflow = nullptr;
    context.root.count = 0;
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
        pool.cells = static_cast<CollideCell*>(checked_malloc_array(POOL_START, sizeof(CollideCell)));
        pool.capacity = POOL_START;
    }
    cell_reset(&context.root);
    stats.candidates_most = 0;

    profile_section("VNode_collide:bounds", 0x808000);
    // The world's own sphere, without the floor, bounds the volume. A NaN
    // anywhere among the world's children reaches every value of that sphere.
    context.world = swept_box(world, world->bound.radius);
    if (std::isnan(context.world.min[0]) || std::isnan(context.world.max[2]))
        fatal_error("Bounds of the world volume are corrupted in VNode_collide");

    profile_section("VNode_collide_add", 0xFF0000);
    add_walk(world);
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
