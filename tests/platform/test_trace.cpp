// The profiler's trace file as a writer must leave it: names quoted whatever they hold, and
// files it must not append to left as they are. (Its frames against "times.log", processes and
// runs killed: replay.trace.)
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile.h"
#include "support/scratch_dir.h"

namespace {

std::string read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(Trace, QuotesNamesAndLeavesWhatItCannotAppendTo) {
    ScratchDir scratch;
    profile_section("a section", 0);
    profile_close_frame(0);
    profile_next_frame();

    trace_set_process_name("zibu_replay C:\\runs\\\"x\"\t.txt");
    ASSERT_TRUE(trace_append_previous("t.json", nullptr, 0));
    trace_set_process_name("zibu");
    const std::string t = read("t.json");
    EXPECT_NE(t.find("{\"name\":\"zibu_replay C:\\\\runs\\\\\\\"x\\\"?.txt\"}}"), std::string::npos) << t;
    EXPECT_EQ(t.substr(t.size() - 3), "\n]\n");

    // Not a trace's end (cut short by hand, or another file): nothing is written.
    for (const char* text : {"[\n{\"name\":\"frame\",\"ph\":\"X\"", "not json\n", "{}\n"}) {
        std::ofstream("cut.json", std::ios::binary) << text;
        EXPECT_FALSE(trace_append_previous("cut.json", nullptr, 0)) << text;
        EXPECT_EQ(read("cut.json"), text);
    }
    std::filesystem::create_directory("folder.json");
    EXPECT_FALSE(trace_append_previous("folder.json", nullptr, 0));
    EXPECT_TRUE(std::filesystem::is_directory("folder.json"));
}
