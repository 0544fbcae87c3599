#pragma once
// A script (platform/script.h) played back frame by frame as the event source, in place of the
// OS.
//
// The events of frame N reach the pump that comes just before frame N (for frame 0, the pump
// at the end of start-up), in the order of the script, so frame N sees them. A key that goes
// down and up within one frame is not seen, as on the desktop.
//
// Two clocks: the simulation's (clock_seconds), which the script's steps move, and the
// profiler's (profile_clock), which "0 clock real" points at real time.
#include <cstdint>

#include "platform/script.h"

// From now on the script is the event source and its clock the simulation's clock (starting
// at 0): every pump plays the events of the next frame, and the pump after the last frame
// reports the quit message. With profile_clock_real set the profiler's clock reads real time
// from here on, else the simulation's clock. The script must outlive the run.
void script_play(const Script* script);
// The frame the latest pump prepared: the one running now.
uint32_t script_frame();
// From now on the simulation's clock runs with real time, continuing from its present reading
// (the script still gives the input and ends the run): frames then take the time they really
// take, as in the game, for a benchmark that times them.
void script_sim_clock_follow_real();
