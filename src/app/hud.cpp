#include "app/hud.h"

#include <cmath>
#include <cstdio>

#include "app/ship.h"
#include "platform/font.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/text.h"
#include "platform/window.h"
#include "things/asteroid.h"
#include "things/bullet.h"
#include "things/shapes.h"

namespace {

constexpr float PI_F = 3.1415927f;
constexpr double TWO_PI = 6.283185307179586;
constexpr int KEY_TALLIES = 'H';

constexpr uint32_t SCORE_COLOUR = 0xffffff;
constexpr uint32_t STREAK_COLOUR = 0x80c040;
constexpr uint32_t BEST_STREAK_COLOUR = 0x40c080;
constexpr uint32_t ACCURACY_DECIDED_COLOUR = 0x4080c0;
constexpr uint32_t ACCURACY_PENDING_COLOUR = 0x404040;

// The gauge's colours, as packed shape colours with alpha 0x80.
constexpr uint32_t CHARGED = hud_pack(0x80c040, 0x80);
constexpr uint32_t EMPTY = hud_pack(0x506040, 0x80);
constexpr uint32_t CHARGING = hud_pack(0xffffff, 0x80);
constexpr uint32_t WHOLE = hud_pack(0x4080c0, 0x80);
constexpr uint32_t SIXTEENS = hud_pack(0x4040c0, 0x80);

// What the layout needs of the screen and the font.
struct Layout {
    const HudSink* sink;
    double width, height;
    double unit;         // height / 20 in whole pixels: the size of the large text
    double line_height;  // the current font's, in pixels
};

// A text of height h whose left edge is at x - anchor * (its drawn width).
void put_text(const Layout& l, const char* text, double x, double anchor, double y, double h,
              uint32_t colour) {
    const double w = text_width(text) * h / l.line_height;
    l.sink->text(l.sink->user, text, x - anchor * w, y, h, colour);
}

void score(const Layout& l, const Ship* ship) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", ship->score);
    put_text(l, text, l.width, 1.0, 0.0, l.unit, SCORE_COLOUR);
}

void tallies(const Layout& l, Ship* ship) {
    const double h = l.unit / 2.0;
    char text[16];
    if (ship->streak >= 2) {
        std::snprintf(text, sizeof text, "%d", ship->streak);
        put_text(l, text, l.width - l.unit, 1.0, 1.5 * l.unit, h, STREAK_COLOUR);
    }
    if (ship->streak > ship->best_streak) ship->best_streak = ship->streak;
    if (ship->best_streak >= 2) {
        std::snprintf(text, sizeof text, "%d", ship->best_streak);
        put_text(l, text, l.width, 1.0, 1.5 * l.unit, h, BEST_STREAK_COLOUR);
    }
    const int64_t shots = ship->shots >= 1 ? ship->shots : 1;
    const int64_t per_mille = 1000 * int64_t{ship->hits} / shots;
    std::snprintf(text, sizeof text, "%03lld", static_cast<long long>(per_mille));
    // Every bullet fired has been decided, as a hit or a miss.
    const bool decided =
        int64_t{ship->hits} + ship->misses == ship->shots && ship->shots != 0;
    put_text(l, text, l.width, 1.0, l.unit, h,
             decided ? ACCURACY_DECIDED_COLOUR : ACCURACY_PENDING_COLOUR);
}

uint32_t health_colour(int h) {
    if (h < 20) return 0xff0000;
    if (h < 40) return 0xff8000;
    if (h < 60) return 0xffff00;
    if (h < 80) return 0x80ff00;
    return 0x00ff00;
}

void health(const Layout& l, const Ship* ship) {
    const int h = static_cast<int>(ship->health);
    const uint32_t c = health_colour(h);
    const uint32_t a = static_cast<uint32_t>(128.0 * std::fmin(1.0, 100.0 - ship->health));
    HudRing ring;
    ring.outer = static_cast<float>(0.75 * l.unit);
    ring.inner = 0.8f * ring.outer;
    ring.cx = ring.outer;
    ring.cy = static_cast<float>(l.height) - ring.outer;
    // The ring covers health / 100 of the circle, one end fixed at the bottom.
    ring.end = PI_F;
    ring.start = static_cast<float>(PI_F - TWO_PI * ship->health / 100.0);
    ring.colour = hud_pack(c, a);
    l.sink->begin_rings(l.sink->user);
    l.sink->ring(l.sink->user, ring);
    l.sink->end_rings(l.sink->user);

    const uint32_t t = colour_modulate(c, a * 0x010101u);
    char text[16];
    const double y = ring.cy - 0.4 * l.unit;
    std::snprintf(text, sizeof text, "%d", h / 10);
    put_text(l, text, ring.cx - 0.2 * l.unit, 0.5, y, l.unit, t);
    std::snprintf(text, sizeof text, "%d", h % 10);
    put_text(l, text, ring.cx + 0.2 * l.unit, 0.5, y, l.unit, t);
}

HudRing segment(const HudRing& shape, double i, double from, double to, double parts,
                uint32_t colour) {
    HudRing ring = shape;
    ring.end = static_cast<float>(PI_F - TWO_PI * (i + from) / parts);
    ring.start = static_cast<float>(PI_F - TWO_PI * (i + to) / parts);
    ring.colour = colour;
    return ring;
}

// Eight segments for the fraction of the next shot, a ring of sixteen for whole shots and
// an inner ring counting sixteens.
void charge_gauge(const Layout& l, const Ship* ship) {
    HudRing shape{};
    shape.outer = static_cast<float>(0.75 * l.unit);
    shape.inner = 0.8f * shape.outer;
    shape.cx = static_cast<float>(l.width) - shape.outer;
    shape.cy = static_cast<float>(l.height) - shape.outer;
    l.sink->begin_rings(l.sink->user);

    const double f = std::fmod(static_cast<double>(ship->charge), 1.0);
    const int k = static_cast<int>(8.0 * f);
    for (int i = 0; i < 8; i++) {
        const uint32_t colour = i < k ? CHARGED : i > k ? EMPTY : CHARGING;
        l.sink->ring(l.sink->user, segment(shape, i, 0.1, 0.9, 8.0, colour));
    }

    const int64_t whole = static_cast<int64_t>(ship->charge) - 1;
    shape.outer = static_cast<float>(0.5 * l.unit);
    shape.inner = static_cast<float>(0.4 * l.unit);
    const int64_t m = whole % 16;
    for (int64_t i = 0; i <= m; i++) {
        const uint32_t colour = i == m && k == 0 ? CHARGING : WHOLE;
        l.sink->ring(l.sink->user, segment(shape, static_cast<double>(i), 0.2, 0.8, 16.0, colour));
    }

    shape.outer = static_cast<float>(0.3 * l.unit);
    shape.inner = static_cast<float>(0.15 * l.unit);
    const int64_t n = whole / 16 - 1;
    for (int64_t i = 0; i <= n; i++) {
        const uint32_t colour = i == n && k == 0 && m == 0 ? CHARGING : SIXTEENS;
        l.sink->ring(l.sink->user, segment(shape, static_cast<double>(i), 0.2, 0.8, 8.0, colour));
    }
    l.sink->end_rings(l.sink->user);
}

// ---- Drawing onto the screen ----

void screen_text(void*, const char* text, double x, double y, double height, uint32_t colour) {
    const float s = static_cast<float>(height / (text_line_height > 0 ? text_line_height : 1));
    text_scale_x = s;
    text_scale_y = s;
    text_draw(static_cast<int>(x / s), static_cast<int>(y / s), 0, text, colour);
    text_scale_x = 1.0f;
    text_scale_y = 1.0f;
}

void screen_begin_rings(void*) {
    overlay_begin();
    glPushAttrib(GL_ENABLE_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_LIGHTING);
}

void screen_ring(void*, const HudRing& r) {
    ShapeCircular* c = static_cast<ShapeCircular*>(shape_create(SHAPE_CIRCULAR, nullptr));
    c->cx = r.cx;
    c->cy = r.cy;
    c->inner = r.inner;
    c->outer = r.outer;
    c->start = r.start;
    c->end = r.end;
    c->inner_start = c->inner_end = c->outer_start = c->outer_end = r.colour;
    shape_draw(c, 1);
    shape_release(c, nullptr);
}

void screen_end_rings(void*) {
    glPopAttrib();
    overlay_end();
}

const HudSink screen_sink = {nullptr, screen_text, screen_begin_rings, screen_ring,
                             screen_end_rings};

}  // namespace

void hud_compose(Ship* ship, int width, int height, const HudSink& sink) {
    // No font of this name is loaded: the current font's base is used.
    font_select("GridWall");
    Layout l;
    l.sink = &sink;
    l.width = width;
    l.height = height;
    l.unit = static_cast<double>(height / 20);
    l.line_height = text_line_height > 0 ? text_line_height : 1.0;

    score(l, ship);
    if (ctrl_pressed(KEY_TALLIES)) ship->show_tallies ^= 1;
    if (ship->show_tallies) tallies(l, ship);
    if (ship->health < 100.0f) health(l, ship);
    if (ship->charge < ship->charge_max) charge_gauge(l, ship);
}

void ship_plot(VNode* node) {
    hud_compose(VNode_as<Ship>(node), screen_width, screen_height, screen_sink);
}

void ship_collide(VNode* node, VNode* other) {
    if (other->type == &bullet_type) {
        if (bullet_hit(other, node, 0.0) == 1) {
            ship_add_damage(VNode_as<Ship>(node), 100.0 / 3.0, 0.0);
        }
        return;
    }
    sphere_bounce(node, other);
}
