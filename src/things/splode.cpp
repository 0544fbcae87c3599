#include "things/splode.h"

#include <cmath>

#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "platform/texture.h"

const ThingType splode_type = {"Splode", sizeof(Splode), splode_advance, splode_plot, nullptr,
                               splode_free};

namespace {

constexpr double two_pi = 6.283185307179586476925286766559;

// A point of the unit ball by rejection from the enclosing cube. For a shell
// the centre itself is refused too: it has no direction to scale.
Vec3f random_drift_direction(bool shell) {
    Vec3f d;
    float len2;
    do {
        d.x = float(random_real(2.0) - 1);
        d.y = float(random_real(2.0) - 1);
        d.z = float(random_real(2.0) - 1);
        len2 = vec3f_len2(d);
    } while (len2 > 1.0f || (shell && len2 == 0.0f));
    return d;
}

float log_uniform(double low, double high) {
    return float(low * std::pow(high / low, random_real(1.0)));
}

uint8_t channel(uint32_t colour, int shift) { return uint8_t((colour >> shift) & 0xFF); }

}  // namespace

Splode* splode_create(double x, double y, double z, double vx, double vy, double vz,
                      int32_t count, float size, float speed, unsigned texture, VNode* parent) {
    Splode* e = static_cast<Splode*>(particle_thing_create(&splode_type, x, y, z, parent));
    e->velocity = Vec3{vx, vy, vz};

    e->count = count > 0 ? count : 0;
    e->particles = static_cast<Particle*>(checked_malloc_array(std::size_t(e->count), sizeof(Particle)));
    const bool shell = !(speed > 0);
    for (int32_t i = e->count - 1; i >= 0; i--) {
        Particle* p = &e->particles[i];
        const Vec3f d = random_drift_direction(shell);
        p->drift = shell ? vec3f_scale(d, -speed / vec3f_len(d)) : vec3f_scale(d, speed);
        const double phi = random_real(two_pi);
        p->turn[0] = float(std::cos(phi) * size);
        p->turn[1] = float(std::sin(phi) * size);
        p->colour[0] = p->colour[1] = p->colour[2] = 255;
    }
    e->age = 0.0f;
    e->life = 1.0f;
    e->start_radius = size;
    e->expansion = std::fabs(speed);
    e->texture = texture;
    e->owns_texture = 0;
    e->flash = 0;
    return e;
}

Splode* splode_at(VNode* node, int32_t count, float size, float speed, unsigned texture) {
    Vec3 v{0.0, 0.0, 0.0};
    if (node->flags & VN_MOBILE) v = static_cast<Thing*>(node)->velocity;
    const Vec3 c = node->world_centre;
    return splode_create(c.x, c.y, c.z, v.x, v.y, v.z, count, size, speed, texture, node->parent);
}

void splode_vary_size(Splode* e, double low, double high) {
    for (int32_t i = e->count - 1; i >= 0; i--) {
        const float f = log_uniform(low, high);
        e->particles[i].turn[0] *= f;
        e->particles[i].turn[1] *= f;
    }
    e->start_radius = float(e->start_radius * std::fmax(low, high));
}

void splode_vary_speed(Splode* e, double low, double high) {
    for (int32_t i = e->count - 1; i >= 0; i--) {
        vec3f_scale_in_place(&e->particles[i].drift, log_uniform(low, high));
    }
    e->expansion = float(e->expansion * std::fmax(low, high));
}

void splode_tint(Splode* e, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t i = 0; i < e->count; i++) {
        e->particles[i].colour[0] = r;
        e->particles[i].colour[1] = g;
        e->particles[i].colour[2] = b;
    }
}

void splode_advance(VNode* node, double dt) {
    Splode* e = static_cast<Splode*>(node);
    e->age = float(e->age + dt);
    if (!(e->age < e->life)) {
        VNode_remove(node);
        return;
    }
    frame_translate(&e->frame->current, e->velocity.x * dt, e->velocity.y * dt, e->velocity.z * dt);
    e->bound.radius = double(e->expansion) * e->age + e->start_radius;
}

float splode_scale(const Splode* e) {
    const float left = e->life > e->age ? (e->life - e->age) / e->life : 0.0f;
    return left * left;
}

void splode_plot(VNode* node) {
    Splode* e = static_cast<Splode*>(node);
    glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, e->texture);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    const float k = splode_scale(e);
    glBegin(GL_QUADS);
    for (int32_t i = e->count - 1; i >= 0; i--) {
        const Particle* p = &e->particles[i];
        glColor3ub(p->colour[0], p->colour[1], p->colour[2]);
        const float s = e->flash ? float(k * std::exp(-random_real(5.0))) : k;
        sprite_quad(e->age * p->drift.x, e->age * p->drift.y, e->age * p->drift.z,
                    s * p->turn[0], s * p->turn[1]);
    }
    glEnd();
    glPopAttrib();
}

void splode_free(VNode* node) {
    Splode* e = static_cast<Splode*>(node);
    checked_free(e->particles);
    if (e->owns_texture) {
        const GLuint name = e->texture;
        glDeleteTextures(1, &name);
    }
}

unsigned char* splode_texture_image(int32_t size, uint32_t outer, uint32_t middle, uint32_t core) {
    const int32_t h = size / 2;
    const int stride = texture_stride(size, 3);
    unsigned char* image = static_cast<unsigned char*>(
        checked_calloc(std::size_t(stride) * std::size_t(size > 0 ? size : 0), 1));
    const int shifts[3] = {16, 8, 0};
    for (int32_t y = size - 1; y >= 0; y--) {
        for (int32_t x = size - 1; x >= 0; x--) {
            // A one-texel sprite is all centre.
            const float rho = h > 0 ? std::sqrt(float((y - h) * (y - h) + (x - h) * (x - h))) / float(h)
                                    : 0.0f;
            unsigned char* texel = image + std::size_t(x) * stride + std::size_t(y) * 3;
            for (int c = 0; c < 3; c++) {
                const float o = channel(outer, shifts[c]);
                const float m = channel(middle, shifts[c]);
                const float k = channel(core, shifts[c]);
                float value;
                if (rho >= 1.0f) {
                    value = 0.0f;
                } else if (rho >= 0.5f) {
                    value = o * ((1.0f - rho) / 0.5f);
                } else if (rho >= 0.25f) {
                    const float t = (0.5f - rho) / 0.25f;
                    value = m * t + o * (1.0f - t);
                } else {
                    const float t = (0.25f - rho) / 0.25f;
                    value = k * t + m * (1.0f - t);
                }
                texel[c] = uint8_t(value);
            }
        }
    }
    return image;
}

unsigned splode_texture(int32_t size, uint32_t outer, uint32_t middle, uint32_t core) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    unsigned char* image = splode_texture_image(size, outer, middle, core);
    upload_mipmapped(GL_TEXTURE_2D, 3, size, size, image);
    checked_free(image);
    return name;
}
