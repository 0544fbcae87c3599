#include "things/smoke.h"

#include <cmath>

#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "things/proctex.h"

const ThingType smoke_type = {"Smoke", sizeof(Smoke), smoke_advance, smoke_plot, nullptr,
                              smoke_free};

unsigned smoke_sprite = 0;

namespace {

constexpr double two_pi = 6.283185307179586476925286766559;

// A uniform point of the unit ball, by rejection from the enclosing cube.
Vec3f random_in_ball() {
    Vec3f d;
    do {
        d.x = float(random_real(2.0) - 1);
        d.y = float(random_real(2.0) - 1);
        d.z = float(random_real(2.0) - 1);
    } while (vec3f_len2(d) > 1.0f);
    return d;
}

}  // namespace

Thing* particle_thing_create(const ThingType* type, double x, double y, double z, VNode* parent) {
    Thing* t = VNode_create_thing(type, parent);
    t->flags |= VN_TRANSPARENT | VN_NO_COLLIDE;
    VNode_take_frame(t, nullptr);
    Mat4* m = &t->frame->current;
    m->m[12] = x;
    m->m[13] = y;
    m->m[14] = z;
    t->world_centre = frame_point_to_world(m, 0.0, 0.0, 0.0);
    t->start_centre = t->world_centre;
    return t;
}

Smoke* smoke_create(double x, double y, double z, int32_t count, float sprite_size,
                    float expansion, VNode* parent) {
    Smoke* s = static_cast<Smoke*>(particle_thing_create(&smoke_type, x, y, z, parent));

    s->count = count > 0 ? count : 0;
    s->particles = static_cast<Particle*>(checked_malloc_array(std::size_t(s->count), sizeof(Particle)));
    for (int32_t i = s->count - 1; i >= 0; i--) {
        Particle* p = &s->particles[i];
        p->drift = vec3f_scale(random_in_ball(), expansion);
        const double phi = random_real(two_pi);
        p->turn[0] = float(std::cos(phi) * sprite_size);
        p->turn[1] = float(std::sin(phi) * sprite_size);
        const uint8_t grey = uint8_t(random_int(77));
        p->colour[0] = p->colour[1] = p->colour[2] = grey;
    }
    s->age = 0.0f;
    s->life = 4.0f;
    s->sprite_size = sprite_size;
    s->expansion = expansion;
    return s;
}

void smoke_advance(VNode* node, double dt) {
    Smoke* s = static_cast<Smoke*>(node);
    s->age = float(s->age + dt);
    if (!(s->age < s->life)) {
        VNode_remove(node);
        return;
    }
    frame_translate(&s->frame->current, s->velocity.x * dt, s->velocity.y * dt, s->velocity.z * dt);
    s->bound.radius = double(s->expansion) * s->age + std::sqrt(double(s->age)) * s->sprite_size;
}

uint8_t smoke_alpha(const Smoke* s) {
    // Clamped at the end of life so that a late plot cannot wrap round to opaque.
    const float left = s->life > s->age ? (s->life - s->age) / s->life : 0.0f;
    return uint8_t(255.9f * left * left);
}

void smoke_plot(VNode* node) {
    Smoke* s = static_cast<Smoke*>(node);
    if (smoke_sprite == 0) smoke_sprite = smoke_texture(64);
    glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, smoke_sprite);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const uint8_t alpha = smoke_alpha(s);
    const float grow = std::sqrt(s->age);
    glBegin(GL_QUADS);
    for (int32_t i = s->count - 1; i >= 0; i--) {
        const Particle* p = &s->particles[i];
        glColor4ub(p->colour[0], p->colour[1], p->colour[2], alpha);
        sprite_quad(s->age * p->drift.x, s->age * p->drift.y, s->age * p->drift.z,
                    grow * p->turn[0], grow * p->turn[1]);
    }
    glEnd();
    glPopAttrib();
}

void smoke_free(VNode* node) { checked_free(static_cast<Smoke*>(node)->particles); }

void sprite_corners(Vec3f p, float u, float v, Vec3f corners[4]) {
    const double* view = g_camera.view.m;
    const Vec3f r{float(view[0]), float(view[4]), float(view[8])};
    const Vec3f up{float(view[1]), float(view[5]), float(view[9])};
    const Vec3f a = vec3f_add(vec3f_scale(r, u), vec3f_scale(up, v));
    const Vec3f b = vec3f_sub(vec3f_scale(up, u), vec3f_scale(r, v));
    corners[0] = vec3f_sub(vec3f_sub(p, a), b);
    corners[1] = vec3f_add(vec3f_sub(p, a), b);
    corners[2] = vec3f_add(vec3f_add(p, a), b);
    corners[3] = vec3f_sub(vec3f_add(p, a), b);
}

void sprite_quad(float px, float py, float pz, float u, float v) {
    static const float tex[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    Vec3f corners[4];
    sprite_corners(Vec3f{px, py, pz}, u, v, corners);
    for (int i = 0; i < 4; i++) {
        glTexCoord2f(tex[i][0], tex[i][1]);
        glVertex3f(corners[i].x, corners[i].y, corners[i].z);
    }
}
