// The error log and fatal errors.
#include "platform/errorlog.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<std::string> log_lines() {
    std::ifstream in("graphics_error.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "yyyy-MMM-dd HH:mm:ss <message>", the month as the locale names it.
const std::regex stamped(R"(\d{4}-[^ -]+-\d{2} \d{2}:\d{2}:\d{2} (.*))");

TEST(ErrorLog, EachCallAppendsOneCompleteLine) {
    ScratchDir dir;
    error_log("first");
    // The line is on disk as soon as the call returns.
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, stamped)) << lines[0];
    EXPECT_EQ(m[1], "first");

    error_log("second, with 100% of a %s in it");
    lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_TRUE(std::regex_match(lines[1], m, stamped)) << lines[1];
    EXPECT_EQ(m[1], "second, with 100% of a %s in it");
}

TEST(ErrorLog, UnwritableLogIsSkipped) {
    ScratchDir dir;
    std::filesystem::create_directory("graphics_error.log");  // cannot be opened as a file
    error_log("nowhere to go");
    EXPECT_TRUE(std::filesystem::is_directory("graphics_error.log"));
}

void no_box(const char*) {}

TEST(ErrorLogDeathTest, FatalErrorExitsWithStatusOneAndLeavesItsLine) {
    ScratchDir dir;
    fatal_message_box = no_box;
    EXPECT_EXIT(fatal_error("Can't Create A GL Rendering Context."), ::testing::ExitedWithCode(1),
                "");
    fatal_message_box = fatal_message_box_show;
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, stamped)) << lines[0];
    EXPECT_EQ(m[1], "Can't Create A GL Rendering Context.");
}

}  // namespace
