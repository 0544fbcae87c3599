#pragma once
// Scripted runs: a plain-text script of input events, and the event source that plays it back
// frame by frame in place of the OS.
//
// One event a line, "FRAME VERB ARGS", frames counted from 0 and never going backwards;
// "#" starts a comment, blank lines are allowed:
//   FRAME down KEY | up KEY        a key goes down or up (letters, digits, or a name: ctrl,
//                                   shift, alt, space, esc, return, tab, back, up, down, left,
//                                   right, pageup, pagedown)
//   FRAME mouse DX DY              the mouse moves by (DX, DY) pixels (a mouse-move message)
//   FRAME button B down|up         B is left, right or middle
//   FRAME wheel +1|-1              the wheel turns away from (+) or towards (-) the user
//   FRAME shot NAME                the picture of that frame goes to NAME.bmp
//   FRAME step SECONDS             the clock moves by SECONDS per frame from this frame on
//                                  (a decimal or a fraction such as 1/30; 1/60 by default)
//   0 size W H                     the window's drawing size (640 x 360 by default)
//   0 stress N DEPTH [SEED]        the world holds N asteroids (1 to 1,000,000) under groups
//                                  DEPTH levels deep (1 to 8) instead of the usual scene,
//                                  placed by the generator seeded with SEED (1 by default)
//   0 clock real                   the profiler and the logs of the diagnostics time the frames
//                                  by the real clock; the simulation still steps by the script
//   FRAME quit                     the run ends after this frame
// A script without quit ends after the frame of its last line.
//
// The events of frame N reach the pump that comes just before frame N (for frame 0, the pump
// at the end of start-up), in the order of the script, so frame N sees them. A key that goes
// down and up within one frame is not seen, as on the desktop.
#include <cstddef>
#include <cstdint>

#include "foundation/dynarray.h"

enum class ScriptVerb : uint8_t { down, up, mouse, button, wheel, shot, step, quit };

constexpr int SCRIPT_NAME_SIZE = 64;    // a shot's name, terminator included
constexpr int SCRIPT_ERROR_SIZE = 160;  // "line N: what is wrong"
constexpr int SCRIPT_DEFAULT_WIDTH = 640;
constexpr int SCRIPT_DEFAULT_HEIGHT = 360;
constexpr uint32_t SCRIPT_STRESS_MAX = 1000000;
constexpr uint32_t SCRIPT_STRESS_DEPTH_MAX = 8;
constexpr uint32_t SCRIPT_STRESS_SEED = 1;

struct ScriptEvent {
    uint32_t frame;
    ScriptVerb verb;
    // down, up: the virtual-key code; mouse: dx, dy; button: the mouse bit, and 1 for down;
    // wheel: the turn.
    int32_t a, b;
    double seconds;                // step
    char name[SCRIPT_NAME_SIZE];  // shot: letters, digits, '_', '-' and '.', not leading
};

// What a stress line asks for; count 0 when the script has none.
struct StressRequest {
    uint32_t count, depth, seed;
};

struct Script {
    DynArray events;  // of ScriptEvent, in frame order (the script's order within a frame)
    int width, height;
    uint32_t last_frame;  // the run's last frame
    StressRequest stress;
    bool real_clock;  // "0 clock real"
};

// Parses size bytes of text (no terminator needed). Returns 0 with script filled, or the
// number of the first bad line with "line N: ..." in error and script emptied. Pure: it reads
// only its arguments and writes only script and error.
int script_parse(const char* text, size_t size, Script* script, char error[SCRIPT_ERROR_SIZE]);
// Releases the events and empties the record; harmless on an empty one.
void script_free(Script* script);

// The virtual-key code of a key name (any case), or 0 when there is no such key.
int script_key_code(const char* name, size_t length);

// From now on the script is the event source and its clock the clock (starting at 0): every
// pump plays the events of the next frame, and the pump after the last frame reports the quit
// message. With real_clock set the profiler's clock reads real time from here on, else it
// reads the script's clock. The script must outlive the run.
void script_play(const Script* script);
// The frame the latest pump prepared: the one running now.
uint32_t script_frame();
// From now on the script's clock runs with real time, continuing from its present reading (the
// script still gives the input and ends the run): frames then take the time they really take,
// as in the game, for a benchmark that times them.
void script_follow_real_clock();
