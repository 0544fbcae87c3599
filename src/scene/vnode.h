#pragma once
// The scene tree: node record, thing-type descriptors, creation, linking,
// removal (deferred while a pass walks the tree) and destruction.
//
// A thing type's record begins with the node header and continues with the
// type's own fields. Declare it by deriving a plain struct:
//
//     struct Asteroid : Thing { double spin; ... };   // created by VNode_create_thing
//     struct Dendrite : VNode { ... };                // created by VNode_create
//
// and give its ThingType size = sizeof(Asteroid). Nodes are allocated zeroed
// with that size and never constructed, so such structs must stay trivial
// (no constructors, destructors or virtual functions).

#include <cstdint>
#include <type_traits>

#include "foundation/dynarray.h"
#include "foundation/frame.h"

struct VNode;

// Flag bits of VNode::flags.
constexpr uint32_t VN_PLOT_IF_LEAF = 0x01;    // own plot only while childless
constexpr uint32_t VN_TRANSPARENT = 0x02;     // drawn after the opaque things, back to front
constexpr uint32_t VN_OWN_FRAME = 0x04;       // frame was allocated by this node
constexpr uint32_t VN_MOBILE = 0x10;          // the record is a Thing (carries velocity)
constexpr uint32_t VN_NO_COLLIDE = 0x20;      // not tested itself (children still are)
constexpr uint32_t VN_ADVANCE_ORDER = 0xC0;   // mask of the two advance-order bits
constexpr uint32_t VN_CHILDREN_FIRST = 0x80;  // children advance before the node
constexpr uint32_t VN_SKIP_CHILDREN = 0x40;   // (also with 0x80) children do not advance

// One static, read-only descriptor per thing type. Any operation may be null.
struct ThingType {
    const char* name;
    uint32_t size;                          // bytes of the whole record
    void (*advance)(VNode* node, double dt);  // move forward by dt seconds
    void (*plot)(VNode* node);              // draw in the node's own coordinates
    void (*collide)(VNode* node, VNode* other);
    // Releases the type's own resources; runs after the node's children are
    // destroyed and its own frame released, just before its memory goes.
    void (*free)(VNode* node);
};

struct VNode {
    uint32_t flags;
    const ThingType* type;
    Frame* frame;         // borrowed (parent's, or shared identity) until taken
    BoundSphere bound;    // local coordinates
    Vec3 world_centre;    // bound centre through frame->current
    Vec3 start_centre;    // world centre at the start of the cycle
    DynArray children;    // of VNode*, owned
    VNode* parent;
};

// Nodes made by VNode_create_thing: the header followed by a velocity.
struct Thing : VNode {
    Vec3 velocity;  // world space
};

static_assert(std::is_trivially_copyable_v<VNode> && std::is_trivially_copyable_v<Thing>);

// Number of live nodes.
extern uint32_t total_nodes;

// The type's record (size bytes, at least the header) with the fields
// described in the node record; the type's own fields start zeroed. Pushed
// onto parent's children when parent is not null.
VNode* VNode_create(const ThingType* type, VNode* parent);
// VNode_create, then VN_MOBILE and a zero velocity.
Thing* VNode_create_thing(const ThingType* type, VNode* parent);
// Hangs a parentless subtree under new_parent. Neither unlinks it from a
// previous parent nor changes its frame pointer.
void VNode_attach(VNode* node, VNode* new_parent);
// Unlinks the node from its parent and destroys it, at once or, while
// deferral is active, when deferral ends. The parent pointer is left as it was.
void VNode_remove(VNode* node);
// Destroys the node and its subtree now, without unlinking it.
void VNode_destroy(VNode* node);
// Removals wait (no effect when already deferring).
void VNode_begin_deferral();
// Destroys everything removed since begin, each node once, and ends deferral.
void VNode_end_deferral();
bool VNode_deferral_active();
// Gives the node a frame of its own (a copy of the one it borrowed); with a
// matrix, sets both current and previous to it.
void VNode_take_frame(VNode* node, const Mat4* matrix);

inline uint32_t VNode_child_count(const VNode* node) { return node->children.count; }
inline VNode* VNode_child(const VNode* node, uint32_t index) {
    return DynArray_at<VNode*>(&node->children, index);
}
template <class T>
T* VNode_as(VNode* node) {
    static_assert(std::is_base_of_v<VNode, T>);
    return static_cast<T*>(node);
}

// The root type: its sphere always encloses its children.
extern const ThingType bubble_type;
void bubble_advance(VNode* node, double dt);

// A "Bubble" with its own frame at (x, y, z), advancing children first and
// never collided itself.
VNode* World_create(double x, double y, double z, VNode* parent);

// A plain group of things: it borrows its parent's frame, draws nothing and is
// never collided itself (its children are). Advancing after its children, its
// sphere encloses theirs as the Bubble's does, so that the plot pass culls the
// whole group by one test. A group that has lost its last child removes itself.
extern const ThingType group_node_type;
void group_advance(VNode* node, double dt);
VNode* Group_create(VNode* parent);
