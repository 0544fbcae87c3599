#include "scene/collide.h"

#include <cmath>
#include <cstring>

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

// Cells sit in blocks of eight, one block for the octants of each cell that
// has any: octant o (x + 2y + 4z, 1 for the upper half) of a cell is cell
// block + o, so that neighbouring cells lie side by side in memory. Cell 0 is
// the root. The nodes stored in a cell sit together in the item list, in the
// order they were stored, from `first` on.
constexpr uint32_t ROOT = 0;

struct Cell {
    uint32_t block;  // the cell of octant 0; 0 while the cell has no octants
    uint32_t made;   // bit o: octant o was taken from the pool
    uint32_t first;
    uint32_t count;
};
Scratch<Cell> cells;

// The pool as the pass counts it: octants are taken one by one up to a
// capacity that starts at 10,000 and doubles, and all are returned at the
// end of each pass. A node stops descending when fewer than 8 remain, so the
// counts follow these rules whatever the blocks hold.
struct CellPool {
    uint32_t capacity;
    uint32_t used;
};
CellPool pool = {0, 0};

// Every node of the octree by number. Numbers follow the detect walk (the
// tree in pre-order, children in slot order), so that the walk finds each
// node's entry by counting, while the nodes go into the octree in the order
// of the add walk (pre-order, children from the last slot). `rank` is the
// node's place in that order.
struct Added {
    VNode* node;
    uint32_t rank;
};
Scratch<Added> added;
Scratch<uint32_t> by_rank;  // rank -> number
// By number: the last query that took the node.
Scratch<uint32_t> marks;

// A node stored in a cell, as the add walk stores it; sorted by cell into
// `items` once every node is in.
struct Stored {
    uint32_t cell;
    uint32_t node;
};
Scratch<Stored> stored;
Scratch<uint32_t> items;

// Where each node went in: its sphere as it was then, and the cells its
// insertion passed through, in order. A query with the same sphere has the
// same box and passes through the same cells (each of them exists since this
// insertion), so it follows them instead of descending again. A node that the
// pool guard held back has no path: its query goes further down, into cells
// made after it.
//
// Once every node is in, the candidates of each node's query are gathered
// along its path in one sweep, before any handler runs. The detect walk uses
// a node's list while the node's sphere is still the one it went in with,
// and otherwise queries from the root as it comes to the node.
constexpr uint32_t NO_PATH = UINT32_MAX;
struct Sphere {
    Vec3 start, now;
    double radius;
};
struct Entry {
    Sphere sphere;
    uint32_t path_first;
    uint32_t path_count;
    uint32_t list_first;
    uint32_t list_count;
    bool gathered;  // the node has a path and its list fitted the budget
};
Scratch<Entry> entries;
Scratch<uint32_t> paths;
Scratch<uint32_t> lists;  // numbers

// By number, one cache line each: what the detect walk reads of a candidate,
// its sphere as the walk last saw it and the node. Candidates are spread over
// the whole pass, so this table is far denser than the node records.
struct alignas(64) Seen {
    Sphere sphere;
    VNode* node;
};
static_assert(sizeof(Seen) == 64);
struct SeenTable {
    void* block = nullptr;
    Seen* data = nullptr;
    uint32_t room = 0;

    // Filled afresh every pass: growing keeps nothing.
    void reserve(uint32_t wanted) {
        if (wanted <= room) return;
        room = wanted > 2 * room ? wanted : 2 * room;
        checked_free(block);
        block = checked_malloc_array(std::size_t{room} + 1, sizeof(Seen));
        data = reinterpret_cast<Seen*>((reinterpret_cast<uintptr_t>(block) + 63) & ~uintptr_t{63});
    }
};
SeenTable seen;

Sphere sphere_of(const VNode* node) { return Sphere{node->start_centre, node->world_centre, node->bound.radius}; }

// The same bits give the same box.
bool same_sphere(const Sphere& a, const Sphere& b) { return std::memcmp(&a, &b, sizeof(Sphere)) == 0; }

// Node -> number for a detect walk that handlers have led off the counted
// order (removed or added children). Open addressing; a slot is empty
// unless its pass is the one under way. Filled only when first needed.
struct NumberSlot {
    const VNode* node;
    uint32_t number;
    uint32_t pass;
};
NumberSlot* numbers = nullptr;
uint32_t number_bits = 0;
uint32_t pass_stamp = 0;
bool numbers_filled = false;
uint32_t detect_next = 0;  // the number the detect walk expects next

// The list a query fills, each node's number once, in the order first met:
// `lists` while gathering, `fresh` for a query made during the detect walk.
Scratch<uint32_t>* candidates = nullptr;
Scratch<uint32_t> fresh;
uint32_t query_stamp = 0;

CollideStats stats = {0, 0, 0};

// The world box of the pass under way.
Box world_box;

// Octant o of the cell, taken from the pool if it was not there yet. The
// cells may move to a larger block meanwhile; indices stay valid.
uint32_t child_made(uint32_t cell, int o) {
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
        pool.used++;
    }
    return c.block + static_cast<uint32_t>(o);
}

void cell_store(uint32_t cell, uint32_t node) {
    cells.data[cell].count++;
    stored.push(Stored{cell, node});
}

// Gives every cell its run of the item list, in cell order, each run in the
// order its nodes were stored.
void sort_items() {
    uint32_t end = 0;
    for (uint32_t k = 0; k < cells.count; k++) {
        end += cells.data[k].count;
        cells.data[k].first = end;  // one past the run until the nodes are placed
    }
    items.reserve(stored.count);
    items.count = stored.count;
    for (uint32_t i = stored.count; i-- > 0;) {
        const Stored& s = stored.data[i];
        items.data[--cells.data[s.cell].first] = s.node;
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

bool path_held = false;  // the guard stopped the insertion under way

// The pool only grows between nodes, so no cell moves while one node goes in.
// A box that stays within one octant goes down without recursion.
void insert(uint32_t cell, const Box& outer, uint32_t node) {
    Box box = outer;
    for (;;) {
        paths.push(cell);
        Split split(box);
        if (!split.fits()) break;
        if (pool.capacity < pool.used + POOL_GUARD) {
            path_held = true;
            break;
        }
        int o = split.only_octant();
        if (o < 0) {
            for_octants(split, [&](int octant, const Box& inner) { insert(child_made(cell, octant), inner, node); });
            return;
        }
        cell = child_made(cell, o);
        box = split.in_octant(o);
    }
    cell_store(cell, node);
}

// The swept-sphere test, here so that the detect walk's loop has it inline.
inline bool swept_hit(const Sphere& a, const Sphere& b) {
    Vec3 at_start = vec3_sub(b.start, a.start);
    Vec3 at_now = vec3_sub(b.now, a.now);
    double d0 = vec3_len2(at_start);
    double d1 = vec3_len2(at_now);
    double dot = vec3_dot(at_start, at_now);
    double reach = sq(a.radius + b.radius);
    // Every part is worked out and joined without branches: most candidates
    // miss, but which ones is too irregular for branch prediction.
    bool at_ends = (reach >= d1) | (reach >= d0);
    // The closest approach must fall strictly between start and now.
    bool between = !(dot >= d1) & !(dot >= d0);
    bool close = d0 * d1 - dot * dot <= (d0 + d1 - 2.0 * dot) * reach;
    return at_ends | (between & close);
}

// Enters the node at the end of the list unless this query has it already;
// returns the list's new count.
inline uint32_t candidate_add(uint32_t* list, uint32_t count, uint32_t number, uint32_t query) {
    list[count] = number;
    count += marks.data[number] != query;
    marks.data[number] = query;
    return count;
}

// The first six stored, last first, then the rest, last first. The count is
// kept in a register: the list's own count could alias the stores.
void take_cell(uint32_t k) {
    Cell cell = cells.data[k];
    if (cell.count == 0) return;
    Scratch<uint32_t>& list = *candidates;
    list.reserve(list.count + cell.count);
    uint32_t* out = list.data;
    uint32_t count = list.count;
    const uint32_t query = query_stamp;
    const uint32_t* run = items.data + cell.first;
    uint32_t head = cell.count < 6 ? cell.count : 6;
    for (uint32_t i = head; i-- > 0;) count = candidate_add(out, count, run[i], query);
    for (uint32_t i = cell.count; i-- > head;) count = candidate_add(out, count, run[i], query);
    list.count = count;
}

void query(uint32_t k, const Box& box) {
    take_cell(k);
    // Nodes stored below a cell are not reported to a box too large to descend.
    Split split(box);
    if (!split.fits()) return;
    Cell cell = cells.data[k];
    for_octants(split, [&](int o, const Box& inner) {
        if ((cell.made >> o) & 1) query(cell.block + static_cast<uint32_t>(o), inner);
    });
}

// Numbers every node to be added in the order of the detect walk; its rank
// counts back from the end of the walk's post-order, which is the order of
// the add walk reversed.
void number_walk(VNode* node, uint32_t* post) {
    uint32_t number = added.count;
    bool enters = !(node->flags & VN_NO_COLLIDE);
    if (enters) added.push(Added{node, 0});
    for (uint32_t i = 0; i < VNode_child_count(node); i++) number_walk(VNode_child(node, i), post);
    if (enters) added.data[number].rank = (*post)++;
}

void add_node(uint32_t number) {
    while (pool.used > pool.capacity - POOL_HEADROOM) pool.capacity *= 2;
    Entry& entry = entries.data[number];
    const VNode* node = added.data[number].node;
    entry.sphere = sphere_of(node);
    seen.data[number] = Seen{entry.sphere, added.data[number].node};
    entry.path_first = paths.count;
    path_held = false;
    insert(ROOT, normalised_box(node, world_box), number);
    entry.path_count = path_held ? NO_PATH : paths.count - entry.path_first;
}

void add_all(VNode* world) {
    uint32_t post = 0;
    number_walk(world, &post);
    uint32_t count = added.count;
    by_rank.reserve(count);
    entries.reserve(count);
    entries.count = count;
    marks.reserve(count);
    marks.count = count;
    for (uint32_t n = 0; n < count; n++) marks.data[n] = query_stamp;
    seen.reserve(count);
    for (uint32_t n = 0; n < count; n++) {
        added.data[n].rank = count - 1 - added.data[n].rank;
        by_rank.data[added.data[n].rank] = n;
    }
    for (uint32_t r = 0; r < count; r++) add_node(by_rank.data[r]);
}

uint32_t number_slot(const VNode* node) {
    uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node));
    return static_cast<uint32_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - number_bits));
}

// Enters every node of the pass, in a table at most half full.
void numbers_fill() {
    uint32_t bits = number_bits ? number_bits : 10;
    while ((1u << bits) < 2 * added.count) bits++;
    if (bits != number_bits || ++pass_stamp == 0) {  // a fresh table
        checked_free(numbers);
        numbers = static_cast<NumberSlot*>(checked_calloc(std::size_t{1} << bits, sizeof(NumberSlot)));
        number_bits = bits;
        pass_stamp = 1;
    }
    uint32_t mask = (1u << number_bits) - 1;
    for (uint32_t n = 0; n < added.count; n++) {
        const VNode* node = added.data[n].node;
        uint32_t i = number_slot(node);
        while (numbers[i].pass == pass_stamp) i = (i + 1) & mask;
        numbers[i] = NumberSlot{node, n, pass_stamp};
    }
    numbers_filled = true;
}

// The node's number, or NO_PATH when it was not added this pass.
uint32_t number_of(const VNode* node) {
    if (detect_next < added.count && added.data[detect_next].node == node) return detect_next++;
    if (!numbers_filled) numbers_fill();
    uint32_t mask = (1u << number_bits) - 1;
    for (uint32_t i = number_slot(node);; i = (i + 1) & mask) {
        const NumberSlot& slot = numbers[i];
        if (slot.pass != pass_stamp) return NO_PATH;
        if (slot.node == node) {
            detect_next = slot.number + 1;
            return slot.number;
        }
    }
}

void next_query() {
    if (++query_stamp == 0) {  // the marks wrapped: forget every old one
        for (uint32_t i = 0; i < marks.count; i++) marks.data[i] = 0;
        query_stamp = 1;
    }
}

// Asks for the item runs of a node's cells, or for the runs themselves.
void fetch_path(uint32_t number, bool items_too) {
    if (number >= entries.count) return;
    const Entry& entry = entries.data[number];
    if (entry.path_count == NO_PATH) return;
    const uint32_t* path = paths.data + entry.path_first;
    for (uint32_t i = 0; i < entry.path_count; i++) {
        if (items_too) __builtin_prefetch(items.data + cells.data[path[i]].first);
        else __builtin_prefetch(&cells.data[path[i]]);
    }
}

// In a crowd every node meets every other: the lists stop at a budget, and
// the nodes left over query during the detect walk as they come.
constexpr uint32_t LIST_BUDGET_PER_NODE = 128;
constexpr uint32_t LIST_BUDGET_FLOOR = 1u << 16;

// The candidates of every node with a path, in number order. A node is
// never its own candidate.
void gather_all() {
    lists.count = 0;
    candidates = &lists;
    const std::size_t budget = std::size_t{LIST_BUDGET_PER_NODE} * entries.count + LIST_BUDGET_FLOOR;
    for (uint32_t n = 0; n < entries.count; n++) {
        fetch_path(n + 8, false);
        fetch_path(n + 4, true);
        Entry& entry = entries.data[n];
        entry.list_first = lists.count;
        entry.gathered = entry.path_count != NO_PATH && lists.count < budget;
        if (entry.gathered) {
            next_query();
            marks.data[n] = query_stamp;
            const uint32_t* path = paths.data + entry.path_first;
            for (uint32_t i = 0; i < entry.path_count; i++) take_cell(path[i]);
        }
        entry.list_count = lists.count - entry.list_first;
        if (entry.list_count > stats.candidates_most) stats.candidates_most = entry.list_count;
    }
}

void test_node(VNode* a) {
    uint32_t number = number_of(a);
    const Entry* entry = number == NO_PATH ? nullptr : &entries.data[number];
    Sphere sphere = sphere_of(a);
    const uint32_t* list;
    uint32_t count;
    if (entry && entry->gathered && same_sphere(sphere, entry->sphere)) {
        list = lists.data + entry->list_first;
        count = entry->list_count;
    } else {
        next_query();
        fresh.count = 0;
        candidates = &fresh;
        query(ROOT, normalised_box(a, world_box));
        list = fresh.data;
        count = fresh.count;
        if (count > stats.candidates_most) stats.candidates_most = count;
    }
    // The candidates of the node two ahead in the walk, asked for while this
    // one's are tested: their lines lie anywhere in the table.
    if (number != NO_PATH && number + 2 < entries.count) {
        const Entry& ahead = entries.data[number + 2];
        const uint32_t* next = lists.data + ahead.list_first;
        for (uint32_t i = 0; i < ahead.list_count; i++) __builtin_prefetch(&seen.data[next[i]]);
    }
    for (uint32_t i = count; i-- > 0;) {
        Seen& other = seen.data[list[i]];
        if (list[i] == number || !swept_hit(sphere, other.sphere)) continue;
        VNode* b = other.node;
        if (a->type->collide) a->type->collide(a, b);
        if (b->type->collide) b->type->collide(b, a);
        // The handlers may have changed either sphere (a split shrinks it).
        sphere = sphere_of(a);
        other.sphere = sphere_of(b);
        if (number != NO_PATH) seen.data[number].sphere = sphere;
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
    cells.count = 1;
    cells.data[ROOT] = Cell{0, 0, 0, 0};
    added.count = 0;
    detect_next = 0;
    numbers_filled = false;
    entries.count = 0;
    paths.count = 0;
    stored.count = 0;
    items.count = 0;
}

}  // namespace

bool VNode_swept_hit(const VNode* a, const VNode* b) { return swept_hit(sphere_of(a), sphere_of(b)); }

void VNode_collide(VNode* world) {
    if (pool.capacity == 0) {
        pool.capacity = POOL_START;
        cells.push(Cell{0, 0, 0, 0});  // the root
    }
    stats.candidates_most = 0;

    profile_section("VNode_collide:bounds", 0x808000);
    // The world's own sphere, without the floor, bounds the volume. A NaN
    // anywhere among the world's children reaches every value of that sphere.
    world_box = swept_box(world, world->bound.radius);
    if (std::isnan(world_box.min[0]) || std::isnan(world_box.max[2]))
        fatal_error("Bounds of the world volume are corrupted in VNode_collide");

    profile_section("VNode_collide_add", 0xFF0000);
    add_all(world);
    sort_items();
    gather_all();
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
