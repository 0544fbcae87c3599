#pragma once
// Scripts of scripted runs: the plain-text script of input events and its parser (played back
// in place of the OS by platform/scriptplay.h).
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
//   FRAME quit                     the run ends after this frame
// and settings, each given at most once and at frame 0:
//   0 size W H                     the window's drawing size (640 x 360 by default)
//   0 clock real                   the profiler's clock (and with it the diagnostics' logs)
//                                  reads real time; the simulation still steps by the script
//   0 VERB ARGS                    a setting of the caller's (see ScriptSetting)
// A script without quit ends after the frame of its last line.
#include <cstddef>
#include <cstdint>

#include "foundation/dynarray.h"

enum class ScriptVerb : uint8_t { down, up, mouse, button, wheel, shot, step, quit };

constexpr int SCRIPT_NAME_SIZE = 64;    // a shot's name, terminator included
constexpr int SCRIPT_ERROR_SIZE = 160;  // "line N: what is wrong"
constexpr int SCRIPT_WHY_SIZE = SCRIPT_ERROR_SIZE - 24;  // what is wrong, without "line N: "
constexpr int SCRIPT_DEFAULT_WIDTH = 640;
constexpr int SCRIPT_DEFAULT_HEIGHT = 360;

struct ScriptEvent {
    uint32_t frame;
    ScriptVerb verb;
    // down, up: the virtual-key code; mouse: dx, dy; button: the mouse bit, and 1 for down;
    // wheel: the turn.
    int32_t a, b;
    double seconds;                // step
    char name[SCRIPT_NAME_SIZE];  // shot: letters, digits, '_', '-' and '.', not leading
};

struct Script {
    DynArray events;  // of ScriptEvent, in frame order (the script's order within a frame)
    int width, height;
    uint32_t last_frame;      // the run's last frame
    bool profile_clock_real;  // "0 clock real"
};

// A piece of a line between blanks.
struct ScriptToken {
    const char* text;
    size_t length;
};

// A setting that the caller of script_parse knows and this layer does not: "0 VERB ARGS", given
// at most once. parse reads the arguments into out; false with what is wrong in why.
struct ScriptSetting {
    const char* verb;
    bool (*parse)(const ScriptToken* args, size_t count, void* out, char why[SCRIPT_WHY_SIZE]);
    void* out;
};
constexpr size_t SCRIPT_SETTINGS_MAX = 32;
constexpr size_t SCRIPT_ARGUMENTS_MAX = 6;

// Parses size bytes of text (no terminator needed), with the caller's settings (at most
// SCRIPT_SETTINGS_MAX). Returns 0 with script filled, or the number of the first bad line with
// "line N: ..." in error and script emptied. Reads only its arguments and writes only script,
// error and the settings' records.
int script_parse(const char* text, size_t size, Script* script, char error[SCRIPT_ERROR_SIZE],
                 const ScriptSetting* settings = nullptr, size_t setting_count = 0);
// Releases the events and empties the record; harmless on an empty one.
void script_free(Script* script);

// The virtual-key code of a key name (any case), or 0 when there is no such key.
int script_key_code(const char* name, size_t length);
// Digits only, at most limit: a count of a setting.
bool script_parse_count(const ScriptToken& t, uint32_t limit, uint32_t* out);
