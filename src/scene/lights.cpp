#include "scene/lights.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "platform/opengl.h"
#include "platform/primitives.h"

int32_t max_lights = 1;
int32_t next_light = GL_LIGHT0;
bool light_tree_mode = false;
LightTree light_tree;

void lights_start() {
    glEnable(GL_LIGHTING);
    const GLfloat grey[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, grey);
    glEnable(GL_LIGHT0);
    glEnable(GL_COLOR_MATERIAL);
    GLint count = 1;
    glGetIntegerv(GL_MAX_LIGHTS, &count);
    max_lights = count;
}

void lights_ambient(float r, float g, float b) {
    const GLfloat ambient[4] = {r, g, b, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
}

void lights_off() {
    for (int32_t l = GL_LIGHT0; l < next_light; l++) glDisable(static_cast<GLenum>(l));
    next_light = GL_LIGHT0;
}

void light_add(float x, float y, float z, float w, float r, float g, float b) {
    if (next_light >= GL_LIGHT0 + max_lights) return;
    GLenum light = static_cast<GLenum>(next_light);
    const GLfloat position[4] = {x, y, z, w};
    const GLfloat diffuse[4] = {r, g, b, 1.0f};
    glEnable(light);
    glLightfv(light, GL_POSITION, position);
    glLightfv(light, GL_DIFFUSE, diffuse);
    next_light++;
}

void light_point(float x, float y, float z, float r, float g, float b, float weight) {
    int32_t before = next_light;
    light_add(x, y, z, 1.0f, r, g, b);
    if (next_light == before) return;  // dropped: leave the lights in use alone
    GLenum light = static_cast<GLenum>(before);
    glLightf(light, GL_LINEAR_ATTENUATION, 1.0f / weight);
    glLightf(light, GL_CONSTANT_ATTENUATION, 0.0f);
}

void light_directional(float x, float y, float z, float r, float g, float b) {
    light_add(x, y, z, 0.0f, r, g, b);
}

namespace {

// The lights given since light_tree_begin, in the order given, and whether
// they are, so far, those the tree was last built from. The scene gives the
// same lights before every plot, so the tree is built again only when they
// change; the same lights in the same order build the same tree.
struct TreeInputs {
    DynArray lights;  // of Light, as given
    uint32_t given;
    bool same;
};
TreeInputs inputs;

}  // namespace

void light_tree_on() {
    if (light_tree_mode) return;
    LightTree_init(&light_tree);
    DynArray_init_of<Light>(&inputs.lights);
    inputs.given = 0;
    inputs.same = true;
    light_tree_mode = true;
}

void light_tree_off() {
    if (!light_tree_mode) return;
    LightTree_free(&light_tree);
    DynArray_free(inputs.lights);
    light_tree = LightTree{};  // no entries: a stray lights_choose finds nothing
    light_tree_mode = false;
}

// The tree only exists in light-tree mode; outside it these do nothing.
void light_tree_begin() {
    if (!light_tree_mode) return;
    inputs.given = 0;
    inputs.same = true;
}

void light_tree_add(float x, float y, float z, float r, float g, float b, float weight) {
    if (!light_tree_mode) return;
    Light l = {{x, y, z}, {r, g, b}, weight, 0.0f};
    if (inputs.same && inputs.given < inputs.lights.count &&
        std::memcmp(&DynArray_at<Light>(&inputs.lights, inputs.given), &l, sizeof(Light)) == 0) {
        inputs.given++;
        return;
    }
    if (inputs.same) inputs.lights.count = inputs.given;  // keep the lights that matched
    inputs.same = false;
    DynArray_push_value(&inputs.lights, l);
    inputs.given++;
}

void light_tree_end() {
    if (!light_tree_mode) return;
    if (inputs.same && inputs.given == inputs.lights.count) return;  // the tree stands
    inputs.lights.count = inputs.given;
    LightTree_clear(&light_tree);
    for (uint32_t k = 0; k < inputs.lights.count; k++) {
        const Light& l = DynArray_at<Light>(&inputs.lights, k);
        LightTree_add_leaf(&light_tree, l.pos.x, l.pos.y, l.pos.z, l.colour.x, l.colour.y, l.colour.z, l.weight);
    }
    LightTree_build(&light_tree);
}

void lights_choose(float x, float y, float z) {
    static DynArray chosen;
    static bool chosen_ready = false;
    if (!chosen_ready) {
        DynArray_init_of<Light>(&chosen);
        chosen_ready = true;
    }
    lights_off();
    lights_select(&light_tree, Vec3f{x, y, z}, max_lights, &chosen);
    for (uint32_t k = chosen.count; k-- > 0;) {
        const Light& l = DynArray_at<Light>(&chosen, k);
        light_point(l.pos.x, l.pos.y, l.pos.z, l.colour.x, l.colour.y, l.colour.z, l.weight);
    }
}

void light_tree_draw(int on_top) {
    lights_off();
    light_directional(0.3f, 0.5f, 0.8f, 0.8f, 0.8f, 0.8f);
    lights_ambient(0.2f, 0.2f, 0.2f);
    if (on_top) {
        glDepthFunc(GL_ALWAYS);
        glDisable(GL_LIGHTING);
    }
    int32_t count = static_cast<int32_t>(light_tree.entries.count);
    // A cube per entry, its size growing with the root of the weight.
    glBegin(GL_QUADS);
    for (int32_t k = count; k-- > 0;) {
        const Light& l = DynArray_at<Light>(&light_tree.lights, static_cast<uint32_t>(k));
        float s = 0.05f * std::sqrt(l.weight);
        glColor3f(l.colour.x, l.colour.y, l.colour.z);
        cube_quads(l.pos.x - s, l.pos.y - s, l.pos.z - s, 2.0 * s);
    }
    glEnd();
    // A line from each cluster to each of its two parts.
    glBegin(GL_LINES);
    glNormal3f(0.0f, 0.0f, 1.0f);
    for (int32_t k = count; k-- > 0;) {
        const LightEntry& e = DynArray_at<LightEntry>(&light_tree.entries, static_cast<uint32_t>(k));
        if (e.left < 0) continue;
        const Light& from = DynArray_at<Light>(&light_tree.lights, static_cast<uint32_t>(k));
        for (int32_t child : {e.right, e.left}) {
            const Light& to = DynArray_at<Light>(&light_tree.lights, static_cast<uint32_t>(child));
            if (on_top) glColor3f(1.0f, 1.0f, 1.0f);
            else glColor3f(to.colour.x, to.colour.y, to.colour.z);
            glVertex3f(from.pos.x, from.pos.y, from.pos.z);
            glVertex3f(to.pos.x, to.pos.y, to.pos.z);
        }
    }
    glEnd();
    if (on_top) {
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_LIGHTING);
    }
}
