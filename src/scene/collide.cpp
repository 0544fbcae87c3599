#include "scene/collide.h"

#include <cmath>
#include <cstring>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/errorlog.h"
#include "platform/profile.h"
#include "scene/octree.h"
#include "scene/work.h"

namespace {

constexpr double SMALLEST_EXTENT = 0.01;   // keeps point-sized nodes from descending without end

// The octree of the pass, its pool kept from pass to pass.
Octree tree;

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

    // Room for `wanted` entries, whose contents are then undefined: the
    // table is filled afresh every pass, so growing copies nothing.
    void reset(uint32_t wanted) {
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
uint32_t own_entries = 0;  // candidates of the detect walk that were the node itself

// The list a query made during the detect walk fills.
Scratch<uint32_t> fresh;

CollideStats stats = {0, 0, 0};

// The world box of the pass under way.
Box world_box;

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
    Entry& entry = entries.data[number];
    const VNode* node = added.data[number].node;
    entry.sphere = sphere_of(node);
    seen.data[number] = Seen{entry.sphere, added.data[number].node};
    entry.path_first = tree.paths.count;
    entry.path_count = octree_insert(tree, normalised_box(node, world_box), number);
}

void add_all(VNode* world) {
    uint32_t post = 0;
    number_walk(world, &post);
    uint32_t count = added.count;
    by_rank.reserve(count);
    entries.reserve(count);
    entries.count = count;
    octree_number(tree, count);
    seen.reset(count);
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

// Asks for the item runs of a node's cells, or for the runs themselves.
void fetch_path(uint32_t number, bool items_too) {
    if (number >= entries.count) return;
    const Entry& entry = entries.data[number];
    if (entry.path_count == NO_PATH) return;
    const uint32_t* path = tree.paths.data + entry.path_first;
    for (uint32_t i = 0; i < entry.path_count; i++) {
        if (items_too) __builtin_prefetch(tree.items.data + tree.cells.data[path[i]].first);
        else __builtin_prefetch(&tree.cells.data[path[i]]);
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
    const std::size_t budget = std::size_t{LIST_BUDGET_PER_NODE} * entries.count + LIST_BUDGET_FLOOR;
    for (uint32_t n = 0; n < entries.count; n++) {
        fetch_path(n + 8, false);
        fetch_path(n + 4, true);
        Entry& entry = entries.data[n];
        entry.list_first = lists.count;
        entry.gathered = entry.path_count != NO_PATH && lists.count < budget;
        if (entry.gathered) {
            octree_next_query(tree);
            tree.marks.data[n] = tree.query_stamp;
            const uint32_t* path = tree.paths.data + entry.path_first;
            for (uint32_t i = 0; i < entry.path_count; i++) octree_take_cell(tree, path[i], lists);
        }
        entry.list_count = lists.count - entry.list_first;
        if (entry.list_count > stats.candidates_most) stats.candidates_most = entry.list_count;
    }
}

// Inlined by hand: left to itself, gcc stopped inlining it into the walk when the work
// counters came, and the call cost 17 instructions a node, 15 % of the walk at depth 1.
[[gnu::always_inline]] inline void test_node(VNode* a) {
    uint32_t number = number_of(a);
    const Entry* entry = number == NO_PATH ? nullptr : &entries.data[number];
    Sphere sphere = sphere_of(a);
    const uint32_t* list;
    uint32_t count;
    if (entry && entry->gathered && same_sphere(sphere, entry->sphere)) {
        list = lists.data + entry->list_first;
        count = entry->list_count;
    } else {
        octree_next_query(tree);
        fresh.count = 0;
        octree_query(tree, OCTREE_ROOT, normalised_box(a, world_box), fresh);
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
    // Every candidate but the node itself is tested: the sphere tests are worked out from
    // the pairs once per pass, so that counting costs one addition per node.
    pass_work.candidate_pairs += count;
    for (uint32_t i = count; i-- > 0;) {
        Seen& other = seen.data[list[i]];
        if (list[i] == number) {
            own_entries++;
            continue;
        }
        if (!swept_hit(sphere, other.sphere)) continue;
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
    octree_release(tree);
    added.count = 0;
    detect_next = 0;
    numbers_filled = false;
    entries.count = 0;
}

}  // namespace

bool VNode_swept_hit(const VNode* a, const VNode* b) { return swept_hit(sphere_of(a), sphere_of(b)); }

void VNode_collide(VNode* world) {
    octree_open(tree);
    stats.candidates_most = 0;

    profile_section("VNode_collide:bounds", 0x808000);
    // The world's own sphere, without the floor, bounds the volume. A NaN
    // anywhere among the world's children reaches every value of that sphere.
    world_box = swept_box(world, world->bound.radius);
    if (std::isnan(world_box.min[0]) || std::isnan(world_box.max[2]))
        fatal_error("Bounds of the world volume are corrupted in VNode_collide");

    profile_section("VNode_collide_add", 0xFF0000);
    add_all(world);
    octree_sort_items(tree);
    gather_all();
    stats.cells_used = tree.pool.used;
    stats.pool_capacity = tree.pool.capacity;

    profile_section("VNode_collide_detect", 0x00C000);
    VNode_begin_deferral();
    const uint32_t pairs_before = pass_work.candidate_pairs;
    own_entries = 0;
    detect_walk(world);
    pass_work.sphere_tests += pass_work.candidate_pairs - pairs_before - own_entries;
    VNode_end_deferral();

    profile_section("VNode_collide:free", 0x0000FF);
    pass_work.cells_touched += tree.paths.count;
    release();
}

CollideStats collide_stats() { return stats; }
