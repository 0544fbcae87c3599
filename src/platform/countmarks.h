#pragma once
// Marks that let valgrind's callgrind count the instructions of each profiler section.
//
// With ZIBU_COUNT_FRAMES="FIRST COUNT" in the environment and the program running under
// callgrind (started with --instr-atstart=no), counting starts at the FIRST frame's first mark
// (frames counted from 0), every section of the COUNT frames that follow gets a dump of its
// own, named by its label, and counting stops again. What lies between a frame's last mark and
// the next frame's first (the swap, the input) is dumped as COUNT_REST_OF_FRAME. Anywhere else
// it does nothing but read the environment once.

// The dump name of the part of a frame outside every section.
constexpr const char* COUNT_REST_OF_FRAME = "(rest of frame)";

// Called by profile_section with its label: a section starts (label) or the frame's sections
// end (null or empty).
void count_mark(const char* label);
// Tests only: forgets the request and the frames seen, so the next mark reads it again.
void count_marks_forget();

// The counting tool's side, per platform (no-ops where there is none).
bool count_tool_present();
void count_tool_start();  // zeroes the counts and starts counting
void count_tool_dump(const char* name);  // writes the counts since the last dump, zeroed after
void count_tool_stop();
