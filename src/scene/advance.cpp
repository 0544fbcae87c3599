#include "scene/advance.h"

double sim_time = 0.0;
double frame_time = 0.0;
Vec3 viewer_velocity = {0.0, 0.0, 0.0};

namespace {

Vec3 world_centre_of(const VNode* node) {
    Vec3 c = node->bound.centre;
    frame_point_to_world(&node->frame->current, &c);
    return c;
}

void advance_node(VNode* node, double dt);

// Walks the live array by index, re-reading count and storage at every step:
// advancing may append children (advanced later in this same walk) or remove
// them (the former last child then fills the hole and waits for next cycle).
void advance_children(VNode* node, double dt) {
    for (uint32_t i = 0; i < node->children.count; i++) advance_node(VNode_child(node, i), dt);
}

void advance_node(VNode* node, double dt) {
    uint32_t order = node->flags & VN_ADVANCE_ORDER;
    if (order == VN_CHILDREN_FIRST) advance_children(node, dt);
    if (node->type->advance) {
        node->type->advance(node, dt);
        node->world_centre = world_centre_of(node);
    }
    if (order == 0) advance_children(node, dt);
}

}  // namespace

void VNode_remember_frames(VNode* node) {
    if (node->flags & VN_OWN_FRAME) node->frame->previous = node->frame->current;
    node->world_centre = world_centre_of(node);
    node->start_centre = node->world_centre;
    for (uint32_t i = node->children.count; i-- > 0;) VNode_remember_frames(VNode_child(node, i));
}

void VNode_advance_tree(VNode* node, double dt) {
    VNode_begin_deferral();
    advance_node(node, dt);
    VNode_end_deferral();
}
