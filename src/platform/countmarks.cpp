#include "platform/countmarks.h"

#include <cstdio>
#include <cstdlib>

namespace {

enum class CountState : unsigned char { unread, off, waiting, counting };

struct CountWindow {
    CountState state;
    long first, count;  // from ZIBU_COUNT_FRAMES
    long frame;         // frames started so far
    const char* open;   // the section running now, null between frames
};

CountWindow window = {CountState::unread, 0, 0, 0, nullptr};

void read_request() {
    window.state = CountState::off;
    const char* request = std::getenv("ZIBU_COUNT_FRAMES");
    if (!request || !count_tool_present()) return;
    if (std::sscanf(request, "%ld %ld", &window.first, &window.count) == 2 && window.first >= 0 &&
        window.count > 0) {
        window.state = CountState::waiting;
    }
}

// A frame begins with its first mark; the time since the previous frame's end is dumped first.
void frame_starts() {
    if (window.state == CountState::counting) count_tool_dump(COUNT_REST_OF_FRAME);
    if (window.frame == window.first) {
        window.state = CountState::counting;
        count_tool_start();
    } else if (window.frame == window.first + window.count) {
        window.state = CountState::off;
        count_tool_stop();
    }
    window.frame++;
}

}  // namespace

void count_mark(const char* label) {
    if (window.state == CountState::unread) read_request();
    if (window.state == CountState::off) return;
    const bool section = label && *label;
    if (section && !window.open) frame_starts();
    if (window.state == CountState::counting && window.open) count_tool_dump(window.open);
    window.open = section ? label : nullptr;
}

void count_marks_forget() { window = {CountState::unread, 0, 0, 0, nullptr}; }
