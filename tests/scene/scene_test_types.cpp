#include "scene_test_types.h"

std::vector<std::string> tree_log;

namespace {

void probe_advance(VNode* node, double dt) {
    Probe* p = VNode_as<Probe>(node);
    tree_log.push_back(std::string("advance ") + p->label);
    frame_translate(&p->frame->current, p->velocity.x * dt, p->velocity.y * dt, p->velocity.z * dt);
    if (p->advances++ == 0 && p->on_advance) p->on_advance(p);
}

void probe_free(VNode* node) { tree_log.push_back(std::string("free ") + VNode_as<Probe>(node)->label); }

}  // namespace

const ThingType probe_type = {"Probe", sizeof(Probe), probe_advance, nullptr, nullptr, probe_free};

Probe* make_probe(VNode* parent, char label) {
    Probe* p = static_cast<Probe*>(VNode_create_thing(&probe_type, parent));
    VNode_take_frame(p, nullptr);
    p->label = label;
    return p;
}
