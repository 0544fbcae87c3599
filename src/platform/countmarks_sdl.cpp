// Callgrind's client requests: a few instructions that do nothing outside valgrind.
#include "platform/countmarks.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>

bool count_tool_present() { return RUNNING_ON_VALGRIND != 0; }

void count_tool_start() {
    CALLGRIND_ZERO_STATS;
    CALLGRIND_START_INSTRUMENTATION;
}

void count_tool_dump(const char* name) { CALLGRIND_DUMP_STATS_AT(name); }

void count_tool_stop() { CALLGRIND_STOP_INSTRUMENTATION; }

#else  // built without valgrind's headers: never counted

bool count_tool_present() { return false; }
void count_tool_start() {}
void count_tool_dump(const char*) {}
void count_tool_stop() {}

#endif
