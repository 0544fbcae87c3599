#pragma once
// The scenario: a small list of named text options with their defaults, and the set-up of
// the scene around the ship (the crystal box and one asteroid).

#include <cstdint>

#include "foundation/dynarray.h"
#include "scene/vnode.h"

struct Dendrite;

struct Option {
    char* name;   // owned
    char* value;  // owned
};

// Starts an empty list of Option records.
void options_init(DynArray* list);
// Adds copies of name and value unless an option of that name (letter case ignored) exists.
void option_default(DynArray* list, const char* name, const char* value);
// The value of the latest added option whose name begins with key (letter case ignored; an
// empty key matches any name), or null.
const char* option_find(const DynArray* list, const char* key);
// Frees every name and value, then the list.
void options_free(DynArray* list);

// The crystal box's sizes and solute density as a list of options gives them: the "X", "Y",
// "Z" and "Density" options. A value that does not convert, or a size outside
// 1 .. DENDRITE_MAX_SIZE, or a density that is negative or not finite, gives the default.
struct ScenarioSettings {
    int32_t size_x, size_y, size_z;
    double density;
};
ScenarioSettings scenario_settings(const DynArray* list);

// The crystal box as the default options describe it (scenario_settings), without a parent.
Dendrite* scenario_setup();
// Hangs the crystal box and one asteroid in the world.
void scene_populate(VNode* world);
