// The profiler's trace file: the sections of a frame as the profiler timed them, one process
// per writer, and files it must leave alone.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile.h"
#include "support/scratch_dir.h"

namespace {

double fake_now = 0.0;
double fake_clock() { return fake_now; }

// One frame shown by the profiler: sections starting at 1.0, 1.5 and 1.75 s, ending at 2.0 s.
void profile_a_frame() {
    profile_clock = fake_clock;
    profile_next_frame();
    const char* labels[] = {"first", "second", "third"};
    const double starts[] = {1.0, 1.5, 1.75};
    for (int i = 0; i < 3; i++) {
        fake_now = starts[i];
        profile_section(labels[i], 0);
    }
    fake_now = 2.0;
    profile_close_frame(0);
    profile_next_frame();
    profile_clock = profile_clock_default;
}

std::string read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

}  // namespace

TEST(Trace, FramesAppendToOneArrayAndEachWriterIsAProcess) {
    ScratchDir scratch;
    profile_a_frame();
    const TraceCounter counters[] = {{"nodes visited", 42}, {"deepest level", 3}};
    trace_set_process_name("zibu_replay C:\\runs\\\"x\".txt");
    ASSERT_TRUE(trace_append_previous("t.json", counters, 2));
    ASSERT_TRUE(trace_append_previous("t.json", counters, 2));
    std::string t = read("t.json");
    EXPECT_EQ(t.rfind("[\n{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":1,", 0), 0u) << t;
    EXPECT_NE(t.find("\"args\":{\"name\":\"zibu_replay C:\\\\runs\\\\\\\"x\\\".txt\"}}"),
              std::string::npos) << t;
    EXPECT_NE(t.find("{\"name\":\"frame\",\"ph\":\"X\",\"pid\":1,\"tid\":1,\"ts\":1000000.000,"
                     "\"dur\":1000000.000},\n"
                     "{\"name\":\"first\",\"ph\":\"X\",\"pid\":1,\"tid\":1,\"ts\":1000000.000,"
                     "\"dur\":500000.000},\n"
                     "{\"name\":\"second\",\"ph\":\"X\",\"pid\":1,\"tid\":1,\"ts\":1500000.000,"
                     "\"dur\":250000.000},\n"
                     "{\"name\":\"third\",\"ph\":\"X\",\"pid\":1,\"tid\":1,\"ts\":1750000.000,"
                     "\"dur\":250000.000},\n"
                     "{\"name\":\"nodes visited\",\"ph\":\"C\",\"pid\":1,\"tid\":1,"
                     "\"ts\":1000000.000,\"args\":{\"value\":42}},\n"),
              std::string::npos) << t;
    EXPECT_EQ(occurrences(t, "\"name\":\"frame\""), 2u);
    EXPECT_EQ(occurrences(t, "process_name"), 1u);
    EXPECT_EQ(t.substr(t.size() - 4), "}\n]\n");

    // Another file in between stands for another process: the next number, named again.
    ASSERT_TRUE(trace_append_previous("u.json", counters, 0));
    trace_set_process_name("zibu");
    ASSERT_TRUE(trace_append_previous("t.json", counters, 0));
    t = read("t.json");
    EXPECT_EQ(occurrences(t, "\"pid\":2,"), 5u);  // its name, its frame and three sections
    EXPECT_NE(t.find("\"pid\":2,\"tid\":1,\"args\":{\"name\":\"zibu\"}}"), std::string::npos);
    EXPECT_EQ(occurrences(t, "]"), 1u);
}

// What is not a trace's end, or not a file, is left as it is.
TEST(Trace, LeavesWhatItCannotAppendTo) {
    ScratchDir scratch;
    profile_a_frame();
    const char* kept[] = {"[\n{\"name\":\"frame\",\"ph\":\"X\"", "not json\n", "{}\n"};
    for (const char* text : kept) {
        std::ofstream("cut.json", std::ios::binary) << text;
        EXPECT_FALSE(trace_append_previous("cut.json", nullptr, 0)) << text;
        EXPECT_EQ(read("cut.json"), text);
    }
    std::filesystem::create_directory("folder.json");
    EXPECT_FALSE(trace_append_previous("folder.json", nullptr, 0));
    EXPECT_TRUE(std::filesystem::is_directory("folder.json"));
    std::ofstream("blank.json", std::ios::binary) << "  \n";  // blank: started afresh
    EXPECT_TRUE(trace_append_previous("blank.json", nullptr, 0));
    EXPECT_EQ(read("blank.json").rfind("[\n{", 0), 0u);
}
