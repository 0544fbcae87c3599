#include "scene/vnode.h"

#include <cstring>

#include "foundation/memory.h"

uint32_t total_nodes = 0;

const ThingType bubble_type = {"Bubble", sizeof(VNode), bubble_advance, nullptr, nullptr, nullptr};
const ThingType group_node_type = {"Group", sizeof(VNode), group_advance, nullptr, nullptr, nullptr};

namespace {

// Nodes removed while a pass walks the tree; destroyed when the pass ends.
DynArray deferred;
bool deferring = false;

VNode* create_sized(const ThingType* type, VNode* parent, std::size_t least) {
    std::size_t size = type->size > least ? type->size : least;
    VNode* node = static_cast<VNode*>(checked_calloc(1, size));
    node->flags = 0;
    node->type = type;
    node->frame = parent ? parent->frame : frame_shared_identity();
    node->bound = bound_empty();
    node->world_centre = frame_point_to_world(&node->frame->current, 0.0, 0.0, 0.0);
    node->start_centre = node->world_centre;
    DynArray_init_of<VNode*>(&node->children);
    if (parent) DynArray_push_value(&parent->children, node);
    node->parent = parent;
    total_nodes++;
    return node;
}

int compare_addresses(const void* a, const void* b) {
    uintptr_t x = reinterpret_cast<uintptr_t>(*static_cast<VNode* const*>(a));
    uintptr_t y = reinterpret_cast<uintptr_t>(*static_cast<VNode* const*>(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

VNode* VNode_create(const ThingType* type, VNode* parent) {
    return create_sized(type, parent, sizeof(VNode));
}

Thing* VNode_create_thing(const ThingType* type, VNode* parent) {
    // A type whose size forgot the velocity still gets room for it.
    Thing* thing = static_cast<Thing*>(create_sized(type, parent, sizeof(Thing)));
    thing->flags |= VN_MOBILE;
    thing->velocity = Vec3{0.0, 0.0, 0.0};
    return thing;
}

void VNode_attach(VNode* node, VNode* new_parent) {
    DynArray_push_value(&new_parent->children, node);
    node->parent = new_parent;
}

void VNode_remove(VNode* node) {
    if (node->parent) {
        DynArray* siblings = &node->parent->children;
        VNode** items = DynArray_items<VNode*>(siblings);
        for (uint32_t i = siblings->count; i-- > 0;) {
            if (items[i] == node) {
                DynArray_remove(siblings, i);
                break;
            }
        }
    }
    if (deferring) {
        DynArray_push_value(&deferred, node);
    } else {
        VNode_destroy(node);
    }
}

void VNode_destroy(VNode* node) {
    // The count is read afresh: a type's free may change the tree.
    for (uint32_t i = 0; i < node->children.count; i++) VNode_destroy(VNode_child(node, i));
    DynArray_free(node->children);
    if (node->flags & VN_OWN_FRAME) checked_free(node->frame);
    if (node->type->free) node->type->free(node);
    checked_free(node);
    total_nodes--;
}

void VNode_begin_deferral() {
    if (deferring) return;
    DynArray_init_of<VNode*>(&deferred);
    deferring = true;
}

void VNode_end_deferral() {
    if (!deferring) return;
    // Destructions from here on happen at once.
    deferring = false;
    // Sorted, a node removed several times sits in neighbouring slots and is
    // destroyed once.
    DynArray_sort(&deferred, compare_addresses);
    VNode** items = DynArray_items<VNode*>(&deferred);
    for (uint32_t i = deferred.count; i-- > 0;) {
        if (i > 0 && items[i] == items[i - 1]) continue;
        VNode_destroy(items[i]);
    }
    DynArray_free(deferred);
}

bool VNode_deferral_active() { return deferring; }

void VNode_take_frame(VNode* node, const Mat4* matrix) {
    if (!(node->flags & VN_OWN_FRAME)) {
        Frame* own = static_cast<Frame*>(checked_malloc(sizeof(Frame)));
        std::memcpy(own, node->frame, sizeof(Frame));
        node->frame = own;
        node->flags |= VN_OWN_FRAME;
    }
    if (matrix) {
        node->frame->current = *matrix;
        node->frame->previous = *matrix;
    }
}

void bubble_advance(VNode* node, double) {
    uint32_t n = VNode_child_count(node);
    if (n == 0) return;
    const Mat4* m = &node->frame->current;
    VNode* first = VNode_child(node, 0);
    node->bound.centre = first->world_centre;
    frame_point_to_local(m, &node->bound.centre);
    node->bound.radius = first->bound.radius;
    for (uint32_t i = n - 1; i >= 1; i--) {
        VNode* child = VNode_child(node, i);
        Vec3 centre = child->world_centre;
        frame_point_to_local(m, &centre);
        bound_add_sphere(&node->bound, centre, child->bound.radius);
    }
}

VNode* World_create(double x, double y, double z, VNode* parent) {
    VNode* world = VNode_create(&bubble_type, parent);
    VNode_take_frame(world, nullptr);
    world->frame->current.m[12] = x;
    world->frame->current.m[13] = y;
    world->frame->current.m[14] = z;
    world->flags |= VN_CHILDREN_FIRST | VN_NO_COLLIDE;
    return world;
}

void group_advance(VNode* node, double dt) {
    if (VNode_child_count(node) == 0) {
        VNode_remove(node);
        return;
    }
    bubble_advance(node, dt);
}

VNode* Group_create(VNode* parent) {
    VNode* group = VNode_create(&group_node_type, parent);
    group->flags |= VN_CHILDREN_FIRST | VN_NO_COLLIDE;
    return group;
}
