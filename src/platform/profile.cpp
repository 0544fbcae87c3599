#include "platform/profile.h"

#include <cmath>
#include <cstring>

#include "platform/framecycle.h"

DynArray profile_ring[PROFILE_FRAMES];
int profile_slot = 0;

namespace {

bool ring_ready = false;

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

}  // namespace

void profile_section(const char* label, uint32_t colour) {
    if (!ring_ready) ring_create();
    if (!label) {
        DynArray_clear(current_slot());
        return;
    }
    ProfileMark mark = {clock_seconds(), label, colour};
    DynArray_push(current_slot(), &mark);
}

double profile_close_frame(uint8_t merge) {
    profile_section("", 0);  // gives the last section its end
    DynArray* slot = current_slot();
    ProfileMark* marks = marks_of(slot);
    uint32_t last = slot->count - 1;
    double length = marks[last].time - marks[0].time;
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
