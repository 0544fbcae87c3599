#include "platform/errorlog.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Matches "<pattern> " at the start of a line: 'd' a digit, 'm' one or more characters
// other than space and '-', anything else itself. Returns the rest, or null.
const char* after_stamp(const char* line) {
    for (const char* p = "dddd-m-dd dd:dd:dd "; *p; p++) {
        if (*p == 'd') {
            if (!std::isdigit(static_cast<unsigned char>(*line))) return nullptr;
            line++;
        } else if (*p == 'm') {
            const char* start = line;
            while (*line && *line != ' ' && *line != '-') line++;
            if (line == start) return nullptr;
        } else if (*line++ != *p) {
            return nullptr;
        }
    }
    return line;
}

// The messages of the log's lines, each checked to be "yyyy-MMM-dd HH:mm:ss <message>"
// with the month as the locale names it.
std::vector<std::string> logged() {
    std::ifstream in("graphics_error.log");
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        const char* rest = after_stamp(line.c_str());
        messages.push_back(rest ? std::string(rest) : "unstamped: " + line);
    }
    return messages;
}

TEST(ErrorLog, EachCallAppendsOneCompleteLineAtOnce) {
    ScratchDir dir;
    error_log("first");
    EXPECT_EQ(logged(), std::vector<std::string>{"first"});
    error_log("second, with 100% of a %s in it");
    EXPECT_EQ(logged(), (std::vector<std::string>{"first", "second, with 100% of a %s in it"}));
}

TEST(ErrorLog, UnwritableLogIsSkipped) {
    ScratchDir dir;
    std::filesystem::create_directory("graphics_error.log");  // cannot be opened as a file
    error_log("nowhere to go");
    EXPECT_TRUE(std::filesystem::is_directory("graphics_error.log"));
}

TEST(ErrorLogDeathTest, FatalErrorExitsWithStatusOneAndLeavesItsLine) {
    ScratchDir dir;
    fatal_message_box = [](const char*) {};
    EXPECT_EXIT(fatal_error("Can't Create A GL Rendering Context."), ::testing::ExitedWithCode(1), "");
    fatal_message_box = fatal_message_box_show;
    EXPECT_EQ(logged(), std::vector<std::string>{"Can't Create A GL Rendering Context."});
}

}  // namespace
