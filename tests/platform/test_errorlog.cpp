#include "platform/errorlog.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The messages of the log's lines, each checked to be "yyyy-MMM-dd HH:mm:ss <message>"
// with the month as the locale names it.
std::vector<std::string> logged() {
    std::ifstream in("graphics_error.log");
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        std::string shape = line;
        for (char& c : shape) c = std::isdigit(static_cast<unsigned char>(c)) ? 'd' : c;
        const size_t month_end = shape.find('-', 5);
        const bool stamped = shape.rfind("dddd-", 0) == 0 && month_end != std::string::npos &&
                             month_end > 5 && shape.find(' ', 5) > month_end &&
                             shape.compare(month_end, 13, "-dd dd:dd:dd ") == 0;
        messages.push_back(stamped ? line.substr(month_end + 13) : "unstamped: " + line);
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

}  // namespace
