// The clock on SDL: its high-resolution counter (a monotonic clock), calibrated on first use.
#include "platform/framecycle.h"

#include <SDL.h>

namespace {

double counter_seconds() { return static_cast<double>(SDL_GetPerformanceCounter()) * seconds_per_tick; }

double millisecond_seconds() { return SDL_GetTicks64() * 0.001; }

}  // namespace

double clock_calibrate() {
    Uint64 frequency = SDL_GetPerformanceFrequency();
    if (frequency != 0) {
        seconds_per_tick = 1.0 / static_cast<double>(frequency);
        clock_seconds = counter_seconds;
    } else {
        clock_seconds = millisecond_seconds;
    }
    return clock_seconds();
}
