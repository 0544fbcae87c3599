#include "things/bullet.h"

#include <cmath>

#include <cstring>

#include "foundation/camera.h"
#include "foundation/memory.h"
#include "platform/opengl.h"
#include "platform/texture.h"
#include "scene/advance.h"

const ThingType bullet_type = {"classic_bullet", sizeof(Bullet), bullet_advance, bullet_plot,
                               nullptr, nullptr};

unsigned bullet_texture_ship = 0;

bool is_shooter(const VNode* node) { return std::strcmp(node->type->name, "Ship") == 0; }
unsigned bullet_texture_other = 0;

Bullet* bullet_create(double x, double y, double z, double vx, double vy, double vz,
                      VNode* owner, VNode* parent) {
    Bullet* b = static_cast<Bullet*>(VNode_create_thing(&bullet_type, parent));
    b->flags |= VN_TRANSPARENT;
    b->bound.centre = Vec3{x, y, z};
    b->world_centre = b->bound.centre;
    b->start_centre = b->bound.centre;
    b->velocity = Vec3{vx, vy, vz};
    b->bound.radius = BULLET_RADIUS;
    b->owner = owner;
    b->firing_ship = owner && is_shooter(owner) ? static_cast<Shooter*>(owner) : nullptr;
    b->expiry = sim_time + BULLET_LIFETIME;
    b->spent = 0;
    return b;
}

void bullet_advance(VNode* node, double dt) {
    Bullet* b = VNode_as<Bullet>(node);
    vec3_add(&b->bound.centre, vec3_scale(b->velocity, dt));
    // world_centre still holds the position before this step: the pass refreshes it after us.
    if (b->owner && vec3_dist(b->owner->world_centre, b->world_centre) >
                        1.5 * (b->owner->bound.radius + b->bound.radius)) {
        b->owner = nullptr;
    }
    if (b->expiry < sim_time) VNode_remove(b);
}

int bullet_fizzle(VNode* node) {
    Bullet* b = VNode_as<Bullet>(node);
    if (b->spent) return 0;
    VNode_remove(b);
    b->spent = 1;
    if (b->firing_ship) {
        b->firing_ship->streak = 0;
        b->firing_ship->misses++;
    }
    return 1;
}

int bullet_hit(VNode* node, VNode* target, double score) {
    Bullet* b = VNode_as<Bullet>(node);
    if (b->spent) return 0;
    if (target == b->owner) return 0;
    const bool target_is_ship = is_shooter(target);
    const bool from_ship = b->firing_ship != nullptr;
    if (target_is_ship == from_ship) {
        bullet_fizzle(b);
        return 0;
    }
    VNode_remove(b);
    b->spent = 1;
    if (b->firing_ship) {
        b->firing_ship->score += score;
        b->firing_ship->streak++;
        b->firing_ship->hits++;
    }
    return 1;
}

void bullet_texture_image(int size, bool other_side, unsigned char* rgb) {
    const int h = size / 2;
    for (int y = size - 1; y >= 0; y--) {
        for (int x = size - 1; x >= 0; x--) {
            unsigned char* t = rgb + 3 * (y + x * size);
            const float rho = static_cast<float>(
                std::sqrt(static_cast<double>((y - h) * (y - h) + (x - h) * (x - h))) / h);
            if (rho >= 1.0f) {
                t[0] = t[1] = t[2] = 0;
            } else if (rho >= 0.5f) {
                t[0] = 0;
                t[1] = static_cast<unsigned char>(255.0f * (1.0f - rho) / 0.5f);
                t[2] = 0;
            } else {
                t[0] = static_cast<unsigned char>(255.0f * (0.5f - rho) / 0.5f);
                t[1] = 255;
                t[2] = 0;
            }
        }
    }
    if (!other_side) return;
    for (int i = 0; i < size * size; i++) {
        unsigned char* t = rgb + 3 * i;
        const unsigned char r = t[0];
        t[0] = t[1];
        t[1] = t[2];
        t[2] = r;
    }
}

unsigned bullet_texture(int size, bool other_side) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    unsigned char* image =
        static_cast<unsigned char*>(checked_malloc_array(static_cast<std::size_t>(size) * size, 3));
    bullet_texture_image(size, other_side, image);
    upload_mipmapped(GL_TEXTURE_2D, 3, size, size, image);
    checked_free(image);
    return name;
}

void bullet_plot(VNode* node) {
    Bullet* b = VNode_as<Bullet>(node);
    if (!bullet_texture_ship) {
        bullet_texture_ship = bullet_texture(BULLET_TEXTURE_SIZE, false);
        bullet_texture_other = bullet_texture(BULLET_TEXTURE_SIZE, true);
    }
    glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, b->firing_ship ? bullet_texture_ship : bullet_texture_other);
    glColor3f(1.0f, 1.0f, 1.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glDepthMask(GL_FALSE);
    const Vec3 relative = vec3_sub(b->velocity, viewer_velocity);
    streak_billboard(static_cast<float>(b->bound.centre.x), static_cast<float>(b->bound.centre.y),
                     static_cast<float>(b->bound.centre.z), static_cast<float>(relative.x),
                     static_cast<float>(relative.y), static_cast<float>(relative.z),
                     static_cast<float>(b->bound.radius), 0.04f);
    glPopAttrib();
}

StreakQuads streak_geometry(Vec3f p, Vec3f v, float radius, float min_time, Vec3f eye,
                            float frame_seconds) {
    const float length = frame_seconds > min_time ? frame_seconds : min_time;
    Vec3f h = vec3f_scale(v, 0.5f * length);
    const Vec3f d = vec3f_unit(vec3f_sub(p, eye));
    if (h.x == 0.0f && h.y == 0.0f && h.z == 0.0f) h = Vec3f{1.0f, 0.0f, 0.0f};
    const Vec3f s = vec3f_scale(vec3f_unit(vec3f_cross(h, d)), radius);
    const Vec3f e = vec3f_cross(d, s);

    const Vec3f tail = vec3f_sub(p, h);
    const Vec3f head = vec3f_add(p, h);
    struct Corner {
        float u, v;
        Vec3f at;
    };
    const Corner corners[12] = {
        // Tail cap: the lower half of the round texture.
        {0.0f, 0.0f, vec3f_sub(vec3f_sub(tail, s), e)},
        {0.0f, 0.5f, vec3f_sub(tail, s)},
        {1.0f, 0.5f, vec3f_add(tail, s)},
        {1.0f, 0.0f, vec3f_sub(vec3f_add(tail, s), e)},
        // Head cap: the upper half.
        {0.0f, 0.5f, vec3f_sub(head, s)},
        {0.0f, 1.0f, vec3f_add(vec3f_sub(head, s), e)},
        {1.0f, 1.0f, vec3f_add(vec3f_add(head, s), e)},
        {1.0f, 0.5f, vec3f_add(head, s)},
        // Body: the middle row stretched between the caps.
        {0.0f, 0.5f, vec3f_sub(tail, s)},
        {1.0f, 0.5f, vec3f_add(tail, s)},
        {1.0f, 0.5f, vec3f_add(head, s)},
        {0.0f, 0.5f, vec3f_sub(head, s)},
    };
    StreakQuads q;
    for (int i = 0; i < 12; i++) {
        q.position[i] = corners[i].at;
        q.tex[i][0] = corners[i].u;
        q.tex[i][1] = corners[i].v;
    }
    return q;
}

void streak_billboard(float px, float py, float pz, float vx, float vy, float vz, float radius,
                      float min_time) {
    const Vec3f eye = {static_cast<float>(g_camera.eye.x), static_cast<float>(g_camera.eye.y),
                       static_cast<float>(g_camera.eye.z)};
    const StreakQuads q = streak_geometry(Vec3f{px, py, pz}, Vec3f{vx, vy, vz}, radius, min_time,
                                          eye, static_cast<float>(frame_time));
    glBegin(GL_QUADS);
    for (int i = 0; i < 12; i++) {
        glTexCoord2f(q.tex[i][0], q.tex[i][1]);
        glVertex3f(q.position[i].x, q.position[i].y, q.position[i].z);
    }
    glEnd();
}
