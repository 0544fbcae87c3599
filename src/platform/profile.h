#pragma once
// A frame profiler that costs one clock read per section.
//
// Code marks the start of each named section of a frame with a colour. At the
// end of the frame profile_show turns the marks into durations, draws them
// with labels, times and the frame rate, and moves on to the next of 100 frame
// slots, so that earlier frames stay available for the history view and for
// writing out. Nothing is averaged: every number is one frame's measurement.

#include <cstdint>
#include <cstdio>

#include "foundation/dynarray.h"

struct ProfileMark {
    double time;        // profile_clock at the mark; once the frame is closed, the section's duration
    const char* label;  // not owned: callers pass string constants
    uint32_t colour;    // 0xRRGGBB; 0 lets the display choose
};

constexpr int PROFILE_FRAMES = 100;
constexpr uint32_t PROFILE_SLOT_MARKS = 20;  // room of every slot, kept across frames

// One DynArray of ProfileMark per frame slot, created by the first mark.
extern DynArray profile_ring[PROFILE_FRAMES];
// The slot the current frame fills.
extern int profile_slot;

// The clock the sections are timed by (and "times.log" and the trace with them): by default
// clock_seconds; a scripted run that measures real durations while its simulation steps by
// the script's clock points it at a real clock.
extern double (*profile_clock)();
double profile_clock_default();  // reads clock_seconds

// With a label: a section starts now and lasts until the next mark. Without
// one (null): the current frame's marks are dropped.
void profile_section(const char* label, uint32_t colour);

// Closes and shows the current frame at pixel (x, y) in the overlay, as one
// horizontal bar of sections, or as rows with a bar each (history: the rows
// show the section's recent frames). merge combines sections of equal label.
// Needs a current font and the overlay mode of the caller.
void profile_show(int x, int y, uint8_t merge, uint8_t history, uint8_t horizontal);

// One line for the frame shown last: its section durations, tab-separated.
void profile_write_previous(FILE* file);
// The frame shown last: its sections (ProfileMark, time = duration), or null before the first
// frame was shown; start receives the profile_clock reading at its first mark.
const DynArray* profile_previous(double* start);

// Room that format_duration's output needs.
constexpr int DURATION_TEXT_SIZE = 32;
// Seconds as text in ns, mus (drawn as the letter mu and s), ms or sec, three
// significant digits. out must hold DURATION_TEXT_SIZE bytes.
void format_duration(char* out, double seconds);

// The steps of profile_show that need no drawing, for its callers and tests.
//
// Closes the current frame with an end mark and turns its marks into the
// durations of its sections (merged by label when asked). Returns the frame's
// length in seconds.
double profile_close_frame(uint8_t merge);
// The smallest of 1, 2 or 5 times a power of ten that is not below the frame
// length: the time that the full width of the graph stands for.
double profile_time_scale(double frame_length);
// The colour a section is drawn with in the horizontal bar: the one it was
// given, or one chosen from its index.
uint32_t profile_bar_colour(uint32_t given, uint32_t index);
// Moves on to the next slot and empties it for the new frame.
void profile_next_frame();
