#pragma once
// Thing types for exercising the tree: each records its advances and frees in
// a shared log, and may run a scripted action on its first advance.

#include <string>
#include <vector>

#include "scene/vnode.h"

struct Probe : Thing {
    char label;
    void (*on_advance)(Probe* self);  // runs on the first advance only
    int advances;
};

extern std::vector<std::string> tree_log;

// Moves by velocity * dt through its own frame.
extern const ThingType probe_type;

Probe* make_probe(VNode* parent, char label);
