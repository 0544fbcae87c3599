#include "things/dendrite.h"

#include <cmath>

#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "things/bullet.h"
#include "things/splode.h"

const ThingType dendrite_type = {"Dendrite", sizeof(Dendrite), dendrite_advance, dendrite_plot,
                                 dendrite_collide, dendrite_free};

unsigned dendrite_texture_name = 0;
unsigned dendrite_splode_texture = 0;
unsigned char show_solute = 0;

namespace {

constexpr int TEXTURE_SIZE = 128;
constexpr double TEXTURE_LINE_WIDTH = 0.1;

int32_t clamp_size(int32_t s) {
    if (s < 1) return 1;
    return s > DENDRITE_MAX_SIZE ? DENDRITE_MAX_SIZE : s;
}

int16_t*** alloc_cells(int32_t sx, int32_t sy, int32_t sz) {
    int16_t*** cells = static_cast<int16_t***>(checked_malloc_array(sx, sizeof(int16_t**)));
    for (int32_t x = 0; x < sx; x++) {
        cells[x] = static_cast<int16_t**>(checked_malloc_array(sy, sizeof(int16_t*)));
        for (int32_t y = 0; y < sy; y++) {
            cells[x][y] = static_cast<int16_t*>(checked_calloc(sz, sizeof(int16_t)));
        }
    }
    return cells;
}

int32_t wrap(int32_t v, int32_t size) {
    if (v >= size) return v - size;
    if (v < 0) return v + size;
    return v;
}

// Whether any of the six face neighbours is crystal, and the largest of them. Each
// coordinate is held inside the box: at a face of the box the neighbour read is the
// particle's own cell, never one across the wrap.
bool any_neighbour(const Dendrite* d, int32_t x, int32_t y, int32_t z, int16_t* largest) {
    const int32_t xp = x + 1 < d->size_x ? x + 1 : d->size_x - 1;
    const int32_t xm = x > 0 ? x - 1 : 0;
    const int32_t yp = y + 1 < d->size_y ? y + 1 : d->size_y - 1;
    const int32_t ym = y > 0 ? y - 1 : 0;
    const int32_t zp = z + 1 < d->size_z ? z + 1 : d->size_z - 1;
    const int32_t zm = z > 0 ? z - 1 : 0;
    int16_t*** c = d->cells;
    const int16_t around[6] = {c[xp][y][z], c[xm][y][z], c[x][yp][z],
                               c[x][ym][z], c[x][y][zp], c[x][y][zm]};
    bool any = false;
    int16_t best = 0;
    for (int16_t v : around) {
        if (v == 0) continue;
        if (!any || v > best) best = v;
        any = true;
    }
    *largest = best;
    return any;
}

// A face is drawn when the cell beyond it is outside the box or empty.
bool open_beyond(const Dendrite* d, int32_t x, int32_t y, int32_t z) {
    return dendrite_cell(d, x, y, z) == 0;
}

void quad(const short v[4][3]) {
    static const int tex[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; i++) {
        glTexCoord2i(tex[i][0], tex[i][1]);
        glVertex3s(v[i][0], v[i][1], v[i][2]);
    }
}

void plot_cell(const Dendrite* d, CellPos p) {
    const int32_t x = p.x, y = p.y, z = p.z;
    float r = 0.0f, g = 0.0f, b = 0.0f;
    dendrite_colour(d, d->cells[x][y][z], &r, &g, &b);
    glColor3f(r, g, b);
    const short X = p.x, Y = p.y, Z = p.z;
    const short X1 = static_cast<short>(X + 1), Y1 = static_cast<short>(Y + 1),
                Z1 = static_cast<short>(Z + 1);
    if (open_beyond(d, x - 1, y, z)) {
        const short v[4][3] = {{X, Y, Z}, {X, Y1, Z}, {X, Y1, Z1}, {X, Y, Z1}};
        quad(v);
    }
    if (open_beyond(d, x + 1, y, z)) {
        const short v[4][3] = {{X1, Y, Z}, {X1, Y1, Z}, {X1, Y1, Z1}, {X1, Y, Z1}};
        quad(v);
    }
    if (open_beyond(d, x, y - 1, z)) {
        const short v[4][3] = {{X, Y, Z}, {X1, Y, Z}, {X1, Y, Z1}, {X, Y, Z1}};
        quad(v);
    }
    if (open_beyond(d, x, y + 1, z)) {
        const short v[4][3] = {{X, Y1, Z}, {X1, Y1, Z}, {X1, Y1, Z1}, {X, Y1, Z1}};
        quad(v);
    }
    if (open_beyond(d, x, y, z - 1)) {
        const short v[4][3] = {{X, Y, Z}, {X1, Y, Z}, {X1, Y1, Z}, {X, Y1, Z}};
        quad(v);
    }
    if (open_beyond(d, x, y, z + 1)) {
        const short v[4][3] = {{X, Y, Z1}, {X1, Y, Z1}, {X1, Y1, Z1}, {X, Y1, Z1}};
        quad(v);
    }
}

uint8_t channel_byte(float c) { return static_cast<uint8_t>(255.9f * c); }

// The explosion of a chipped cell, in the cell's colour.
void chip_effects(const Dendrite* d, int32_t x, int32_t y, int32_t z, VNode* parent) {
    const Vec3 c = frame_point_to_world(&d->frame->current, x + 0.5, y + 0.5, z + 0.5);
    if (dendrite_splode_texture == 0) {
        dendrite_splode_texture = splode_texture(32, 0x404040, 0x808080, 0xFFFFFF);
    }
    Splode* e = splode_create(c.x, c.y, c.z, 0.0, 0.0, 0.0, 50, 0.5f, 5.0f,
                              dendrite_splode_texture, parent);
    float r = 0.0f, g = 0.0f, b = 0.0f;
    dendrite_colour(d, d->cells[x][y][z], &r, &g, &b);
    splode_tint(e, channel_byte(r), channel_byte(g), channel_byte(b));
    splode_vary_size(e, 0.5, 2.0);
    splode_vary_speed(e, 0.1, 10.0);
}

void remove_from_crystal(Dendrite* d, int32_t x, int32_t y, int32_t z) {
    CellPos* items = DynArray_items<CellPos>(&d->crystal);
    for (uint32_t i = d->crystal.count; i-- > 0;) {
        if (items[i].x == x && items[i].y == y && items[i].z == z) {
            DynArray_remove(&d->crystal, i);
            return;
        }
    }
}

}  // namespace

Dendrite* dendrite_create(int32_t size_x, int32_t size_y, int32_t size_z, double density,
                          VNode* parent) {
    Dendrite* d = VNode_as<Dendrite>(VNode_create(&dendrite_type, parent));
    d->size_x = clamp_size(size_x);
    d->size_y = clamp_size(size_y);
    d->size_z = clamp_size(size_z);
    const int64_t cells = int64_t{d->size_x} * d->size_y * d->size_z;
    d->bound.centre = Vec3{0.5 * d->size_x, 0.5 * d->size_y, 0.5 * d->size_z};
    d->bound.radius = 0.5 * std::sqrt(static_cast<double>(int64_t{d->size_x} * d->size_x +
                                                          int64_t{d->size_y} * d->size_y +
                                                          int64_t{d->size_z} * d->size_z));
    d->world_centre = frame_point_to_world(&d->frame->current, d->bound.centre.x,
                                           d->bound.centre.y, d->bound.centre.z);
    d->start_centre = d->world_centre;
    d->cells = alloc_cells(d->size_x, d->size_y, d->size_z);
    DynArray_init_of<CellPos>(&d->solute);
    DynArray_init_of<CellPos>(&d->crystal);
    crystallise(d, d->size_x / 2, d->size_y / 2, d->size_z / 2, 1);

    if (!(density > 0.0) || !std::isfinite(density)) density = 0.0;
    const double wanted = std::trunc(static_cast<double>(cells) * density);
    // Far more particles than 16-bit cell lists could ever need would only exhaust memory.
    const int64_t n = wanted < 1e9 ? static_cast<int64_t>(wanted) : int64_t{1000000000};
    for (int64_t i = 0; i <= n; i++) {
        CellPos p;
        p.x = static_cast<int16_t>(random_int(d->size_x));
        p.y = static_cast<int16_t>(random_int(d->size_y));
        p.z = static_cast<int16_t>(random_int(d->size_z));
        DynArray_push_value(&d->solute, p);
    }
    return d;
}

void dendrite_free(VNode* node) {
    Dendrite* d = VNode_as<Dendrite>(node);
    if (d->cells) {
        for (int32_t x = 0; x < d->size_x; x++) {
            for (int32_t y = 0; y < d->size_y; y++) checked_free(d->cells[x][y]);
            checked_free(d->cells[x]);
        }
        checked_free(d->cells);
        d->cells = nullptr;
    }
    DynArray_free(d->solute);
    DynArray_free(d->crystal);
}

void crystallise(Dendrite* d, int32_t x, int32_t y, int32_t z, int16_t value) {
    if (d->cells[x][y][z] != 0) return;
    d->cells[x][y][z] = value;
    CellPos p{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
    DynArray_push_value(&d->crystal, p);
}

int16_t dendrite_cell(const Dendrite* d, int32_t x, int32_t y, int32_t z) {
    if (x < 0 || y < 0 || z < 0 || x >= d->size_x || y >= d->size_y || z >= d->size_z) return 0;
    return d->cells[x][y][z];
}

void dendrite_colour(const Dendrite* d, int32_t value, float* red, float* green, float* blue) {
    const double a = (4.0 / d->size_x) * value;
    *red = static_cast<float>(0.5 * std::cos(a) + 0.5);
    *green = static_cast<float>(0.5 * std::sin(a) + 0.5);
    *blue = static_cast<float>(0.5 - 0.5 * std::cos(a));
}

void dendrite_advance(VNode* node, double) {
    Dendrite* d = VNode_as<Dendrite>(node);
    for (uint32_t i = d->solute.count; i-- > 0;) {
        CellPos* p = &DynArray_at<CellPos>(&d->solute, i);
        int32_t x = p->x, y = p->y, z = p->z;
        switch (random_int(7)) {
            case 1: x = wrap(x + 1, d->size_x); break;
            case 2: x = wrap(x - 1, d->size_x); break;
            case 3: y = wrap(y + 1, d->size_y); break;
            case 4: y = wrap(y - 1, d->size_y); break;
            case 5: z = wrap(z + 1, d->size_z); break;
            case 6: z = wrap(z - 1, d->size_z); break;
            default: break;
        }
        *p = CellPos{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
        int16_t largest = 0;
        if (!any_neighbour(d, x, y, z, &largest)) continue;
        const int16_t generation = largest < INT16_MAX ? static_cast<int16_t>(largest + 1) : largest;
        crystallise(d, x, y, z, generation);
        // The last particle moves into the hole; it has been stepped already.
        DynArray_remove(&d->solute, i);
    }
}

void dendrite_plot(VNode* node) {
    const Dendrite* d = VNode_as<Dendrite>(node);
    if (dendrite_texture_name == 0) dendrite_texture_name = dendrite_texture();
    glPushAttrib(GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, dendrite_texture_name);
    glBegin(GL_QUADS);
    const CellPos* crystal = DynArray_items<CellPos>(&d->crystal);
    for (uint32_t i = d->crystal.count; i-- > 0;) plot_cell(d, crystal[i]);
    glEnd();

    if (key_pressed(KEY_SPACE)) show_solute ^= 1;
    if (show_solute) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
        glDepthMask(GL_FALSE);
        glColor3f(0.1f, 0.1f, 0.1f);
        glBegin(GL_QUADS);
        const CellPos* solute = DynArray_items<CellPos>(&d->solute);
        for (uint32_t i = d->solute.count; i-- > 0;) {
            cube_quads_textured(solute[i].x, solute[i].y, solute[i].z, 1.0);
        }
        glEnd();
    }
    glPopAttrib();
}

void dendrite_collide(VNode* node, VNode* other) {
    if (other->type != &bullet_type) return;
    Dendrite* d = VNode_as<Dendrite>(node);
    Bullet* bullet = VNode_as<Bullet>(other);
    // Samples of the bullet's path over the last frame, from its start to where it is now.
    for (double t = 0.0; t < 1.01; t += 0.2) {
        Vec3 p = vec3_scale(bullet->world_centre, t);
        vec3_add(&p, vec3_scale(bullet->start_centre, 1.0 - t));
        frame_point_to_local(&d->frame->current, &p);
        if (!(p.x >= 0.0 && p.x < d->size_x && p.y >= 0.0 && p.y < d->size_y && p.z >= 0.0 &&
              p.z < d->size_z)) {
            continue;
        }
        const int32_t x = static_cast<int32_t>(p.x);
        const int32_t y = static_cast<int32_t>(p.y);
        const int32_t z = static_cast<int32_t>(p.z);
        if (d->cells[x][y][z] == 0) continue;
        if (!bullet_hit(bullet, node, 0.0)) continue;
        chip_effects(d, x, y, z, bullet->parent);
        d->cells[x][y][z] = 0;
        remove_from_crystal(d, x, y, z);
        if (bullet->firing_ship) bullet->firing_ship->score += 1.0;
    }
}

unsigned char* dendrite_texture_image(int n, double line_width) {
    const int stride = texture_stride(n, 1);
    unsigned char* image =
        static_cast<unsigned char*>(checked_calloc(static_cast<std::size_t>(stride) * n, 1));
    const int h = n / 2;
    const double border = n * line_width / 2.0;
    // Texel y + x * n: x counts rows, y columns.
    for (int y = n - 1; y >= 0; y--) {
        for (int x = n - 1; x >= 0; x--) {
            const int g = 64 + random_int(64);
            const bool edge = std::fabs(std::fmod(y + h, n) - h) <= border ||
                              std::fabs(std::fmod(x + h, n) - h) <= border;
            image[static_cast<std::size_t>(x) * stride + y] =
                static_cast<unsigned char>(edge ? g * 2 : g);
        }
    }
    return image;
}

unsigned dendrite_texture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    anisotropy_max_on_bound_texture();
    unsigned char* image = dendrite_texture_image(TEXTURE_SIZE, TEXTURE_LINE_WIDTH);
    upload_mipmapped(GL_TEXTURE_2D, 1, TEXTURE_SIZE, TEXTURE_SIZE, image);
    checked_free(image);
    return name;
}
