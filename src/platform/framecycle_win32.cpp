// The clock on Windows: the performance counter, calibrated on first use, or the
// millisecond tick count where there is no counter.
#include "platform/framecycle.h"

#include <windows.h>

namespace {

double count_of(const LARGE_INTEGER& v) {
    return static_cast<double>(v.LowPart) + static_cast<double>(v.HighPart) * 4294967296.0;
}

double counter_seconds() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count_of(count) * seconds_per_tick;
}

double millisecond_seconds() { return static_cast<double>(GetTickCount()) * 0.001; }

}  // namespace

double clock_calibrate() {
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && count_of(frequency) != 0.0) {
        seconds_per_tick = 1.0 / count_of(frequency);
        clock_seconds = counter_seconds;
    } else {
        clock_seconds = millisecond_seconds;
    }
    return clock_seconds();
}
