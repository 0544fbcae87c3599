// No instruction counting under Windows: the marks do nothing.
#include "platform/countmarks.h"

bool count_tool_present() { return false; }
void count_tool_start() {}
void count_tool_dump(const char*) {}
void count_tool_stop() {}
