// The window of frames counted under valgrind: an off-by-one here would move every count.
#include "platform/countmarks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Recording stand-ins for the tool's side. zibu_core is a static library: with all four defined
// here, its countmarks_sdl.o (valgrind's client requests) is not linked into the tests.
static bool tool_present = false;
static std::string calls;
bool count_tool_present() { return tool_present; }
void count_tool_start() { calls += "start "; }
void count_tool_dump(const char* name) { calls += std::string(name) + " "; }
void count_tool_stop() { calls += "stop "; }

TEST(CountMarks, WindowOpensAtFirstDumpsEachSectionAndClosesAfterCountFrames) {
    const std::string rest = std::string(" ") + COUNT_REST_OF_FRAME + " ";
    const struct { const char* request; bool present; std::string expected; } cases[] = {
        {"1 2", true, "start a b" + rest + "a b" + rest + "stop "},
        {"0 1", true, "start a b" + rest + "stop "}, {"3 5", true, "start a b "},
        {"0 1", false, ""}, {nullptr, true, ""}, {"x 1", true, ""}, {"1", true, ""},
        {"-1 2", true, ""}, {"0 0", true, ""}};
    for (const auto& c : cases) {
        c.request ? setenv("ZIBU_COUNT_FRAMES", c.request, 1) : unsetenv("ZIBU_COUNT_FRAMES");
        tool_present = c.present;
        calls.clear();
        count_marks_forget();
        for (int frame = 0; frame < 4; frame++)  // two sections; either end mark closes them
            for (const char* label : {"a", "b", frame % 2 ? "" : nullptr}) count_mark(label);
        EXPECT_EQ(calls, c.expected) << (c.request ? c.request : "unset") << " " << c.present;
    }
    unsetenv("ZIBU_COUNT_FRAMES");
    tool_present = false;
    count_marks_forget();
}
