#pragma once
// The profiler as a trace file: each frame the profiler has shown, appended to a file in the
// Chrome Trace Event Format (a JSON array of events, which Perfetto's UI and chrome://tracing
// open). A frame is one complete event ("ph":"X") enclosing one per section, with the same
// durations as the frame's line of "times.log", and a counter event ("ph":"C") per figure the
// caller gives. Times are microseconds of the profiler's clock.
//
// The file is a JSON array after every frame. Each frame's events and the closing bracket go
// in with one write, over the old closing bracket; a write that fails part way (a full disk)
// is taken back, so a run that is killed or fails at any moment leaves a file that opens. Each
// process that writes to a file appears there as one more process: the next number after the
// largest "pid" at the file's end, with a "process_name" metadata event. A file that does not
// end with a closing bracket (not a trace, or one cut short by hand) is left alone.
//
// A trace stops at a size limit, which keeps it small enough for the viewers to open (the game
// writes some 1.7 KB a frame): the frame that would reach it is replaced by an instant event
// "trace full" that says so, and the file is left alone from then on. A file found not a trace
// or full is not read again in this run while it is there; deleting it starts afresh.
#include <cstdint>

extern const char* const trace_name;  // "trace.json", beside "times.log"
constexpr long TRACE_SIZE_LIMIT = 64L << 20;  // bytes, some ten minutes of the game's frames

// The name this process shows in traces ("zibu" unless set). Takes effect in a file this
// process has not written to yet.
void trace_set_process_name(const char* name);

struct TraceCounter {
    const char* name;
    uint32_t value;
};

// Appends the frame the profiler showed last (see profile_previous) and the counters to the
// trace at path, unless the file would then pass size_limit bytes (then the trace is closed as
// full). Returns false when the frame was not written: the file as it was when it could not be
// written, or not a trace, or full. A frame without sections writes nothing.
bool trace_append_previous(const char* path, const TraceCounter* counters, uint32_t count,
                           long size_limit = TRACE_SIZE_LIMIT);
