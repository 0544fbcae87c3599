#include "things/dendrite.h"

#include "foundation/dynarray.h"
#include "things/bullet.h"
#include "things/dendrite_internal.h"
#include "things/splode.h"

unsigned dendrite_splode_texture = 0;

namespace {

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
        dendrite_cell_changed(d, x, y, z);
        remove_from_crystal(d, x, y, z);
        if (bullet->firing_ship) bullet->firing_ship->score += 1.0;
    }
}
