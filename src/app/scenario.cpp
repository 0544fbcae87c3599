#include "app/scenario.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "things/asteroid.h"
#include "things/dendrite.h"

namespace {

constexpr int32_t DEFAULT_SIZE = 50;
constexpr double DEFAULT_DENSITY = 0.05;

bool same_name(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        if (to_lower(*a) != to_lower(*b)) return false;
    }
    return *a == *b;
}

bool begins_with(const char* name, const char* key) {
    for (; *key; name++, key++) {
        if (!*name || to_lower(*name) != to_lower(*key)) return false;
    }
    return true;
}

// A whole decimal integer (surrounding blanks allowed) within 1 .. DENDRITE_MAX_SIZE.
int32_t size_option(const DynArray* list, const char* key) {
    const char* text = option_find(list, key);
    if (!text) return DEFAULT_SIZE;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || v < 1 || v > DENDRITE_MAX_SIZE) return DEFAULT_SIZE;
    return static_cast<int32_t>(v);
}

double density_option(const DynArray* list, const char* key) {
    const char* text = option_find(list, key);
    if (!text) return DEFAULT_DENSITY;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v) || v < 0.0) return DEFAULT_DENSITY;
    return v;
}

}  // namespace

void options_init(DynArray* list) { DynArray_init_of<Option>(list); }

void option_default(DynArray* list, const char* name, const char* value) {
    const Option* items = DynArray_items<Option>(list);
    for (uint32_t i = 0; i < list->count; i++) {
        if (same_name(items[i].name, name)) return;
    }
    Option o{nullptr, nullptr};
    str_dup_into(&o.name, name);
    str_dup_into(&o.value, value);
    DynArray_push_value(list, o);
}

const char* option_find(const DynArray* list, const char* key) {
    const Option* items = DynArray_items<Option>(list);
    for (uint32_t i = list->count; i-- > 0;) {
        if (begins_with(items[i].name, key)) return items[i].value;
    }
    return nullptr;
}

void options_free(DynArray* list) {
    Option* items = DynArray_items<Option>(list);
    for (uint32_t i = list->count; i-- > 0;) {
        checked_free(items[i].name);
        checked_free(items[i].value);
    }
    DynArray_free(*list);
}

ScenarioSettings scenario_settings(const DynArray* list) {
    return {size_option(list, "X"), size_option(list, "Y"), size_option(list, "Z"),
            density_option(list, "Density")};
}

Dendrite* scenario_setup() {
    DynArray list;
    options_init(&list);
    option_default(&list, "X size", "50");
    option_default(&list, "Y size", "50");
    option_default(&list, "Z size", "50");
    option_default(&list, "Density of solute", "0.05");
    const ScenarioSettings box_settings = scenario_settings(&list);
    Dendrite* box = dendrite_create(box_settings.size_x, box_settings.size_y, box_settings.size_z,
                                    box_settings.density, nullptr);
    options_free(&list);
    return box;
}

void scene_populate(VNode* world) {
    VNode_attach(scenario_setup(), world);
    asteroid_create(5.0, 15.0, 15.0, 1.2, world);
}
