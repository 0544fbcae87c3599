// The profiler's trace file as a writer must leave it: names quoted whatever they hold, counters
// as counter events, files it must not append to left as they are (and not read again), a stop
// at the size limit, and a write that fails part way taken back. (Its frames against
// "times.log", processes and runs killed: replay.trace.)
#include "platform/trace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "platform/profile.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

// A scratch folder, and a frame of one section shown by the profiler.
class Trace : public testing::Test {
protected:
    void SetUp() override { profile_section("a section", 0), profile_close_frame(0), profile_next_frame(); }
    ScratchDir scratch;
};

bool ends_as_array(const std::string& t) {
    return t.size() >= 5 && t.compare(0, 2, "[\n") == 0 && t.compare(t.size() - 3, 3, "\n]\n") == 0;
}

}  // namespace

TEST_F(Trace, QuotesNamesWritesCountersAndLeavesWhatItCannotAppendTo) {
    trace_set_process_name("zibu_replay C:\\runs\\\"x\"\t.txt");
    const TraceCounter counters[] = {{"nodes alive", 2170}, {"leaves", 7}};
    ASSERT_TRUE(trace_append_previous("t.json", counters, 2));
    trace_set_process_name("zibu");
    const std::string t = read_file("t.json");
    EXPECT_NE(t.find("{\"name\":\"zibu_replay C:\\\\runs\\\\\\\"x\\\"?.txt\"}}"), std::string::npos) << t;
    EXPECT_NE(t.find(",\n{\"name\":\"leaves\",\"ph\":\"C\",\"pid\":1,\"tid\":1,\"ts\":"), std::string::npos);
    EXPECT_NE(t.find(",\"args\":{\"value\":2170}}"), std::string::npos) << t;
    EXPECT_TRUE(ends_as_array(t));
    // Not a trace's end (cut short by hand, or another file): nothing is written, and the file is
    // not read again while it is there (an empty trace put in the last one's place stays) ...
    int n = 0;
    for (const char* text : {"[\n{\"name\":\"frame\",\"ph\":\"X\"", "not json\n", "{}\n"}) {
        const std::string name = "cut" + std::to_string(n++) + ".json";
        std::ofstream(name, std::ios::binary) << text;
        EXPECT_FALSE(trace_append_previous(name.c_str(), nullptr, 0)) << text;
        EXPECT_EQ(read_file(name), text);
    }
    std::ofstream("cut2.json", std::ios::binary) << "[\n]\n";
    EXPECT_FALSE(trace_append_previous("cut2.json", nullptr, 0));
    EXPECT_EQ(read_file("cut2.json"), "[\n]\n");
    // ... until it goes: then a new trace starts. A folder is never written.
    fs::remove("cut2.json");
    EXPECT_TRUE(trace_append_previous("cut2.json", nullptr, 0));
    fs::create_directory("folder.json");
    EXPECT_TRUE(!trace_append_previous("folder.json", nullptr, 0) && fs::is_directory("folder.json"));
}

TEST_F(Trace, StopsAtTheSizeLimitWithALastEventThatSaysSo) {
    constexpr long LIMIT = 4096;
    int frames = 0;
    while (frames < 100 && trace_append_previous("full.json", nullptr, 0, LIMIT)) frames++;
    const std::string t = read_file("full.json");
    EXPECT_TRUE(frames > 2 && frames < 100) << frames;
    EXPECT_TRUE(t.size() <= static_cast<size_t>(LIMIT) && ends_as_array(t)) << t;
    EXPECT_NE(t.find("{\"ph\":\"i\",\"s\":\"g\",\"pid\":1,"), std::string::npos) << t;
    const std::string last = "\"name\":\"trace full\"}\n]\n";
    EXPECT_EQ(t.compare(t.size() - last.size(), last.size(), last), 0) << t;
    // Full for this process, and for one that comes to it afresh, whatever its limit.
    EXPECT_FALSE(trace_append_previous("full.json", nullptr, 0, LIMIT));
    fs::copy_file("full.json", "full_copy.json");
    EXPECT_FALSE(trace_append_previous("full_copy.json", nullptr, 0, 1 << 30));
    EXPECT_TRUE(read_file("full.json") == t && read_file("full_copy.json") == t);
}

// A disk that fills part way through a frame's write, made by a file size limit: the file is as
// before, still an array; a file the write made goes again.
TEST_F(Trace, TakesBackAWriteThatFailsPartWay) {
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    const std::string before = read_file("cut.json");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    using Room = std::pair<const char*, rlim_t>;
    for (const auto& [path, room] : {Room{"cut.json", before.size() + 40}, Room{"new.json", 0}}) {
        rlimit small = saved;
        small.rlim_cur = room;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = trace_append_previous(path, nullptr, 0);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(written) << path;
    }
    signal(SIGXFSZ, handler);
    EXPECT_TRUE(read_file("cut.json") == before && !fs::exists("new.json"));
    ASSERT_TRUE(trace_append_previous("cut.json", nullptr, 0));
    EXPECT_TRUE(ends_as_array(read_file("cut.json")));
}
