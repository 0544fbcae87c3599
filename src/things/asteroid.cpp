#include "things/asteroid.h"

#include <cmath>
#include <cstdlib>

#include "foundation/dmatrix.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "things/bullet.h"
#include "things/smoke.h"
#include "things/splode.h"

const ThingType asteroid_type = {"classic_asteroid", sizeof(Thing), asteroid_advance,
                                 asteroid_plot, asteroid_collide, nullptr};

unsigned asteroid_list = 0;
unsigned asteroid_splode_texture = 0;

namespace {

constexpr int KEY_GRAVITY = 'G';
constexpr int KEY_PULL = 'H';
constexpr double GRAVITY = 9.81;
// The mesh stops just short of the cube's edges and corners.
constexpr double MESH_REACH = 0.999999999;
constexpr int ROCK_TEXTURE_SIZE = 64;
constexpr int ROCK_MESH_DIVISIONS = 5;

Vec3 position_of(const VNode* node) {
    const double* m = node->frame->current.m;
    return Vec3{m[12], m[13], m[14]};
}

void move_by(VNode* node, Vec3 d) {
    double* m = node->frame->current.m;
    m[12] += d.x;
    m[13] += d.y;
    m[14] += d.z;
}

// Only a thing whose frame is its own can be pushed: a borrowed frame is its parent's.
bool can_bounce(const VNode* node) {
    return (node->flags & VN_MOBILE) && (node->flags & VN_OWN_FRAME);
}

struct VertexTarget {
    double cx, cy, cz, radius;
};

void emit_vertex(void* user, double nx, double ny, double nz) {
    const VertexTarget* t = static_cast<const VertexTarget*>(user);
    cube_sphere_vertex(t->cx, t->cy, t->cz, t->radius, nx, ny, nz);
}

// Smoke and an explosion at the struck asteroid.
void hit_effects(Thing* asteroid) {
    const Vec3 c = asteroid->world_centre;
    Smoke* smoke = smoke_create(c.x, c.y, c.z, 10, 1.0f, 2.0f, asteroid->parent);
    smoke->velocity = asteroid->velocity;
    if (asteroid_splode_texture == 0) {
        asteroid_splode_texture = splode_texture(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    }
    Splode* e = splode_at(asteroid, 20, 0.5f, 5.0f, asteroid_splode_texture);
    e->life = 0.5f;
    e->flash = 1;
    splode_vary_size(e, 0.5, 2.0);
    splode_vary_speed(e, 0.1, 10.0);
}

// Halves the volume: the asteroid and a new twin, just touching, fly apart.
void split(Thing* asteroid) {
    Vec3 u;
    u.x = random_real(4.0) - 2.0;
    u.y = random_real(4.0) - 2.0;
    u.z = random_real(4.0) - 2.0;
    const double r = std::cbrt(0.5) * asteroid->bound.radius;
    const Vec3 o = vec3_scale(vec3_unit(u), r);
    asteroid->bound.radius = r;
    const Vec3 c = vec3_sub(asteroid->world_centre, o);
    Thing* twin = asteroid_create(c.x, c.y, c.z, r, asteroid->parent);
    twin->velocity = vec3_sub(asteroid->velocity, u);
    vec3_add(&asteroid->velocity, u);
    move_by(asteroid, o);
}

void build_display_list() {
    const unsigned texture = rock_texture(ROCK_TEXTURE_SIZE);
    asteroid_list = glGenLists(1);
    glNewList(asteroid_list, GL_COMPILE);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    cube_sphere(0.0, 0.0, 0.0, 1.0, ROCK_MESH_DIVISIONS);
    glDisable(GL_TEXTURE_2D);
    glEndList();
}

}  // namespace

void sphere_bounce(VNode* a, VNode* b) {
    if (!can_bounce(a) || !can_bounce(b)) return;
    const Vec3 d = vec3_sub(position_of(a), position_of(b));
    const double q = vec3_dot(d, d);
    if (!(q > 0.0)) return;
    const double reach = b->bound.radius + a->bound.radius;
    if (!(q < reach * reach)) return;
    Thing* ta = static_cast<Thing*>(a);
    Thing* tb = static_cast<Thing*>(b);
    const Vec3 w = vec3_sub(ta->velocity, tb->velocity);
    const double s = vec3_dot(w, d);
    const double k = reach / std::sqrt(q) - 1.0;
    const Vec3 p = vec3_div(vec3_scale(d, s), q);
    vec3_sub_in_place(&ta->velocity, p);
    vec3_add(&tb->velocity, p);
    move_by(a, vec3_scale(d, k));
    move_by(b, vec3_neg(vec3_scale(d, k)));
}

Thing* asteroid_create(double x, double y, double z, double radius, VNode* parent) {
    Thing* a = VNode_create_thing(&asteroid_type, parent);
    VNode_take_frame(a, nullptr);
    double* m = a->frame->current.m;
    m[12] = x;
    m[13] = y;
    m[14] = z;
    a->bound.radius = radius;
    VNode_remember_frames(a);
    a->velocity.x = random_real(2.0) - 1.0;
    a->velocity.y = random_real(2.0) - 1.0;
    a->velocity.z = random_real(2.0) - 1.0;
    return a;
}

void asteroid_advance(VNode* node, double dt) {
    Thing* a = static_cast<Thing*>(node);
    move_by(a, vec3_scale(a->velocity, dt));
    if (key_held(KEY_GRAVITY)) a->velocity.y -= GRAVITY * dt;
    if (key_held(KEY_PULL)) vec3_sub_in_place(&a->velocity, vec3_scale(position_of(a), dt));
}

void asteroid_collide(VNode* node, VNode* other) {
    if (other->type != &bullet_type) {
        sphere_bounce(node, other);
        return;
    }
    if (!bullet_hit(other, node, 0.0)) return;
    Thing* asteroid = static_cast<Thing*>(node);
    Shooter* ship = VNode_as<Bullet>(other)->firing_ship;
    hit_effects(asteroid);
    if (asteroid->bound.radius < ASTEROID_SPLIT_RADIUS) {
        VNode_remove(asteroid);
        if (ship) ship->score += ASTEROID_DESTROY_SCORE;
        return;
    }
    split(asteroid);
    if (ship) ship->score += ASTEROID_SPLIT_SCORE;
}

void asteroid_plot(VNode* node) {
    if (asteroid_list == 0) build_display_list();
    const float r = static_cast<float>(node->bound.radius);
    glColor3f(1.0f, 1.0f, 1.0f);
    glPushMatrix();
    glScalef(r, r, r);
    glEnable(GL_NORMALIZE);
    // Bigger asteroids repeat the rock texture more often.
    const float t = (r / 0.5f) / 4.0f;
    glMatrixMode(GL_TEXTURE);
    glScalef(t, t, t);
    glMatrixMode(GL_MODELVIEW);
    glCallList(asteroid_list);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void cube_sphere_normals(int n, void (*corner)(void* user, double nx, double ny, double nz),
                         void* user) {
    if (n < 1) return;
    DMatrix X = dmatrix_alloc(n + 1, n + 1);
    DMatrix Y = dmatrix_alloc(n + 1, n + 1);
    DMatrix W = dmatrix_alloc(n + 1, n + 1);
    // (X, Y, W) is the unit vector through the point (a, b, 1) of the cube face z = 1.
    for (int i = 0; i <= n; i++) {
        for (int j = 0; j <= n; j++) {
            const double a = i * MESH_REACH / n;
            const double b = j * MESH_REACH / n;
            W[i][j] = 1.0 / std::sqrt(a * a + b * b + 1.0);
            X[i][j] = a * W[i][j];
            Y[i][j] = b * W[i][j];
        }
    }
    static const int di[4] = {0, 1, 1, 0};
    static const int dj[4] = {0, 0, 1, 1};
    for (int i = n - 1; i >= 0; i--) {
        for (int j = n - 1; j >= 0; j--) {
            for (int o = 0; o < 8; o++) {
                const double sx = (o & 1) ? -1.0 : 1.0;
                const double sy = (o & 2) ? -1.0 : 1.0;
                const double sz = (o & 4) ? -1.0 : 1.0;
                for (int face = 0; face < 3; face++) {
                    for (int c = 0; c < 4; c++) {
                        const double x = sx * X[i + di[c]][j + dj[c]];
                        const double y = sy * Y[i + di[c]][j + dj[c]];
                        const double w = sz * W[i + di[c]][j + dj[c]];
                        if (face == 0) corner(user, x, y, w);
                        if (face == 1) corner(user, y, w, x);
                        if (face == 2) corner(user, w, x, y);
                    }
                }
            }
        }
    }
    dmatrix_free(X);
    dmatrix_free(Y);
    dmatrix_free(W);
}

void cube_sphere(double cx, double cy, double cz, double radius, int n) {
    VertexTarget target{cx, cy, cz, radius};
    glBegin(GL_QUADS);
    cube_sphere_normals(n, emit_vertex, &target);
    glEnd();
}

void cube_sphere_texcoord(double nx, double ny, double nz, double* s, double* t) {
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    if (ax < az && ay < az) {
        *s = 0.5 * nx / nz + 0.5;
        *t = 0.5 * ny / nz + 0.5;
    } else if (ay <= ax) {
        *s = 0.5 * ny / nx + 0.5;
        *t = 0.5 * nz / nx + 0.5;
    } else {
        *s = 0.5 * nx / ny + 0.5;
        *t = 0.5 * nz / ny + 0.5;
    }
}

void cube_sphere_vertex(double cx, double cy, double cz, double radius, double nx, double ny,
                        double nz) {
    double s = 0.0, t = 0.0;
    cube_sphere_texcoord(nx, ny, nz, &s, &t);
    glNormal3d(nx, ny, nz);
    glTexCoord2d(s, t);
    glVertex3d(cx + radius * nx, cy + radius * ny, cz + radius * nz);
}

unsigned char* rock_texture_image(int size) {
    const int stride = texture_stride(size, 3);
    unsigned char* image =
        static_cast<unsigned char*>(checked_calloc(static_cast<std::size_t>(stride) * size, 1));
    // Texel y + x * size: x counts rows, y columns.
    for (int y = size - 1; y >= 0; y--) {
        for (int x = size - 1; x >= 0; x--) {
            unsigned char* texel = image + static_cast<std::size_t>(x) * stride + 3 * y;
            const unsigned char grey = static_cast<unsigned char>(168 + random_int(24));
            texel[0] = texel[1] = texel[2] = grey;
        }
    }
    return image;
}

unsigned rock_texture(int size) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    anisotropy_max_on_bound_texture();
    unsigned char* image = rock_texture_image(size);
    upload_mipmapped(GL_TEXTURE_2D, 3, size, size, image);
    checked_free(image);
    return name;
}
