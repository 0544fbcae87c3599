#include "platform/profile.h"

#include <cmath>
#include <cstring>

#include "platform/countmarks.h"
#include "platform/font.h"
#include "platform/framecycle.h"
#include "platform/primitives.h"
#include "platform/text.h"
#include "platform/window.h"

DynArray profile_ring[PROFILE_FRAMES];
int profile_slot = 0;
double (*profile_clock)() = profile_clock_default;

double profile_clock_default() { return clock_seconds(); }

namespace {

constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t BLUE = 0x0000FF;
constexpr uint32_t ROW_BAR_COLOUR = 0x00FFFF;  // rows whose section was given no colour

bool ring_ready = false;
double slot_start[PROFILE_FRAMES];  // each slot's first mark, once it is closed

void ring_create() {
    for (DynArray& slot : profile_ring) DynArray_init_sized(&slot, sizeof(ProfileMark), PROFILE_SLOT_MARKS, 0);
    ring_ready = true;
}

DynArray* current_slot() { return &profile_ring[profile_slot]; }

ProfileMark* marks_of(const DynArray* slot) { return DynArray_items<ProfileMark>(slot); }

// Combines sections of equal label into the first of them, keeping the order
// of first appearance and summing the durations.
void merge_sections(DynArray* slot) {
    DynArray merged;
    DynArray_init_sized(&merged, sizeof(ProfileMark), PROFILE_SLOT_MARKS, 0);
    const ProfileMark* marks = marks_of(slot);
    for (uint32_t i = 0; i < slot->count; i++) {
        ProfileMark* kept = marks_of(&merged);
        uint32_t j = 0;
        while (j < merged.count && std::strcmp(kept[j].label, marks[i].label) != 0) j++;
        if (j < merged.count) {
            kept[j].time += marks[i].time;
        } else {
            DynArray_push(&merged, &marks[i]);
        }
    }
    DynArray_free(*slot);
    *slot = merged;
}

// A pixel coordinate from a computed position; values beyond any screen (or
// NaN, from a frame without length) are held where the conversion is defined.
int pixel(double v) {
    if (!(v > -1e9)) return v != v ? 0 : -1000000000;
    if (v > 1e9) return 1000000000;
    return static_cast<int>(std::trunc(v));
}

void draw_horizontal(int x, int y, double K) {
    const DynArray* slot = current_slot();
    const ProfileMark* marks = marks_of(slot);
    int lh = text_line_height;
    char text[DURATION_TEXT_SIZE];
    double start = 0.0;
    for (uint32_t i = 0; i < slot->count; i++) {
        double d = marks[i].time;
        int left = pixel(K * start + x);
        fill_box(left, y, K * d, 2 * lh, profile_bar_colour(marks[i].colour, i));
        text_draw(left + 1, y, 0, marks[i].label, WHITE);
        format_duration(text, d);
        text_draw(left + 1, y + lh, 0, text, WHITE);
        start += d;
    }
}

void draw_vertical(int x, int y, int c1, int c2, double K, uint8_t history) {
    const DynArray* slot = current_slot();
    const ProfileMark* marks = marks_of(slot);
    int lh = text_line_height;
    char text[DURATION_TEXT_SIZE];
    for (uint32_t i = slot->count; i-- > 0;) {
        int row = y + static_cast<int>(i) * lh;
        text_draw(x, row, 0, marks[i].label, WHITE);
        format_duration(text, marks[i].time);
        text_draw(c1, row, 0, text, WHITE);
        uint32_t bar = marks[i].colour ? marks[i].colour : ROW_BAR_COLOUR;
        if (!history) {
            int yb = pixel(lh * (i + 0.5) + y);
            draw_point(c2, yb, BLUE);
            draw_line(c2, yb, c2 + K * marks[i].time, yb, bar);
            continue;
        }
        // One pixel row per earlier frame: the section's recent history.
        for (int k = 0; k < lh && k < PROFILE_FRAMES; k++) {
            const DynArray* past = &profile_ring[(profile_slot - k + PROFILE_FRAMES) % PROFILE_FRAMES];
            if (past->count <= i) continue;
            int yk = row + k;
            draw_point(c2, yk, BLUE);
            draw_line(c2, yk, c2 + K * marks_of(past)[i].time, yk, bar);
        }
    }
}

}  // namespace

void profile_section(const char* label, uint32_t colour) {
    count_mark(label);
    if (!ring_ready) ring_create();
    if (!label) {
        DynArray_clear(current_slot());
        return;
    }
    ProfileMark mark = {profile_clock(), label, colour};
    DynArray_push(current_slot(), &mark);
}

double profile_close_frame(uint8_t merge) {
    profile_section("", 0);  // gives the last section its end
    DynArray* slot = current_slot();
    ProfileMark* marks = marks_of(slot);
    uint32_t last = slot->count - 1;
    double length = marks[last].time - marks[0].time;
    slot_start[profile_slot] = marks[0].time;
    for (uint32_t i = 0; i < last; i++) marks[i].time = marks[i + 1].time - marks[i].time;
    DynArray_remove(slot, last);
    if (merge) merge_sections(slot);
    return length;
}

double profile_time_scale(double frame_length) {
    // A frame without length (no marks, or a clock that did not move) has no
    // scale of its own; any finite one keeps the drawing finite.
    if (!(frame_length > 0.0) || std::isinf(frame_length)) return 1.0;
    double scale = std::pow(10.0, std::ceil(std::log10(frame_length)));
    if (scale / frame_length >= 5.0) {
        scale /= 5.0;
    } else if (scale / frame_length >= 2.0) {
        scale /= 2.0;
    }
    return scale;
}

uint32_t profile_bar_colour(uint32_t given, uint32_t index) {
    if (given) return given;
    // Seven colours from the bits of index mod 7 (blue, green, red), dim on
    // even rounds of seven and bright on odd ones; 0, 7, 14 ... are black.
    uint32_t m = index % 7;
    uint32_t level = (index / 7) % 2 == 0 ? 0x80 : 0xFF;
    return level * ((m & 1) + ((m >> 1) & 1) * 0x100 + (m >> 2) * 0x10000);
}

void profile_next_frame() {
    profile_slot = (profile_slot + 1) % PROFILE_FRAMES;
    profile_section(nullptr, 0);
}

void profile_show(int x, int y, uint8_t merge, uint8_t history, uint8_t horizontal) {
    double length = profile_close_frame(merge);
    const DynArray* slot = current_slot();
    const ProfileMark* marks = marks_of(slot);
    double scale = profile_time_scale(length);

    // Columns are measured with the font current on entry.
    int label_width = 0;
    for (uint32_t i = 0; i < slot->count; i++) {
        int w = text_width(marks[i].label);
        if (w > label_width) label_width = w;
    }
    int c1 = x + label_width + text_line_height;
    int c2 = c1 + 5 * text_line_height;
    double K = (screen_width - c2) / scale;  // pixels per second

    font_select("profile");
    if (horizontal) {
        draw_horizontal(x, y, K);
    } else {
        draw_vertical(x, y, c1, c2, K, history);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2lf fps", 1.0 / length);
    text_draw(x, y + pixel(text_line_height * (slot->count + 0.5)), 0, text, WHITE);

    profile_next_frame();
}

void profile_write_previous(FILE* file) {
    const DynArray* slot = ring_ready ? &profile_ring[(profile_slot + PROFILE_FRAMES - 1) % PROFILE_FRAMES] : nullptr;
    // A frame without sections still ends its line.
    if (!slot || slot->count == 0) {
        std::fputc('\n', file);
        return;
    }
    const ProfileMark* marks = marks_of(slot);
    for (uint32_t i = 0; i < slot->count; i++)
        std::fprintf(file, "%lg%c", marks[i].time, i + 1 < slot->count ? '\t' : '\n');
}

const DynArray* profile_previous(double* start) {
    if (!ring_ready) return nullptr;
    const int previous = (profile_slot + PROFILE_FRAMES - 1) % PROFILE_FRAMES;
    *start = slot_start[previous];
    return &profile_ring[previous];
}

void format_duration(char* out, double seconds) {
    if (seconds < 1e-6) {
        std::snprintf(out, DURATION_TEXT_SIZE, "%.3lg ns", seconds * 1e9);
    } else if (seconds < 0.001) {
        std::snprintf(out, DURATION_TEXT_SIZE, "%.3lg mus", seconds * 1e6);
        greek_substitute(out, DURATION_TEXT_SIZE);
    } else if (seconds < 1.0) {
        std::snprintf(out, DURATION_TEXT_SIZE, "%.3lg ms", seconds * 1000.0);
    } else {
        std::snprintf(out, DURATION_TEXT_SIZE, "%.3lg sec", seconds);
    }
}
