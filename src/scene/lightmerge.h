#pragma once
// The lights chosen for one thing: the light tree's cut merged pairwise until
// it fits into the library's lights. Plain arithmetic, no OpenGL.

#include <cstdint>

#include "foundation/dynarray.h"
#include "foundation/vec3.h"
#include "scene/lighttree.h"

// Merges the lights of list (of Light) pairwise, always the pair whose merge
// costs the least angular error as seen from p, until at most limit remain.
// Returns the number of merges.
int32_t lights_merge(DynArray* list, Vec3f p, int32_t limit);
// Clears out, then fills it with the cut from the root merged down to limit.
void lights_select(const LightTree* tree, Vec3f p, int32_t limit, DynArray* out);
