#pragma once
// The ship's head-up display (its plot operation) and its collide operation.
//
// The HUD shows the score at the top right, optional tallies under it (Ctrl+H), a health
// ring with the health's two digits at the bottom left while the ship is damaged, and a
// three-ring charge gauge at the bottom right while the gun recharges.

#include <cstdint>

#include "scene/vnode.h"

struct Ship;

// One circular band of the HUD, in overlay pixels. Angles name the point
// centre + radius (sin a, cos a), growing clockwise in a y-up view; colour is packed
// (bytes red, green, blue, alpha in memory order), the same at every corner.
struct HudRing {
    float cx, cy;
    float inner, outer;
    float start, end;
    uint32_t colour;
};

// Where the HUD's parts go. Texts come with their top-left corner in screen pixels and
// their height; a run of rings is bracketed by begin_rings and end_rings.
struct HudSink {
    void* user;
    void (*text)(void* user, const char* text, double x, double y, double height,
                 uint32_t colour);
    void (*begin_rings)(void* user);
    void (*ring)(void* user, const HudRing& ring);
    void (*end_rings)(void* user);
};

// 0xRRGGBB with an alpha of 0 to 255 as a packed shape colour.
constexpr uint32_t hud_pack(uint32_t rgb, uint32_t alpha) {
    return (rgb >> 16) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16) | (alpha << 24);
}

// Lays the HUD out for a screen of width x height pixels with the current font and hands
// each part to the sink, in drawing order. Reads Ctrl+H (toggling the tallies) and keeps the
// best streak, as every plot of the ship does.
void hud_compose(Ship* ship, int width, int height, const HudSink& sink);

// The Ship's plot operation: hud_compose onto the screen.
void ship_plot(VNode* node);
// The Ship's collide operation: a bullet that counts against the ship damages it by 100/3;
// anything else bounces off.
void ship_collide(VNode* node, VNode* other);
