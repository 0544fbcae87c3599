#pragma once
// The error log ("graphics_error.log", one time-stamped line per call) and fatal errors.

// Appends "<time stamp> <message>\n" and closes the file, so the line is on disk on return.
// A log that cannot be opened is skipped.
void error_log(const char* message);
// Logs the message, shows it in a box captioned "Oh sod it", then ends the process with
// exit status 1 through graphics_shutdown_status.
[[noreturn]] void fatal_error(const char* message);

// The local date "yyyy-MMM-dd" and time "HH:mm:ss" (24-hour) joined by a space, in the
// user's locale. out must hold at least TIME_STAMP_SIZE bytes.
constexpr int TIME_STAMP_SIZE = 202;
void time_stamp(char* out);

// Shows message in a modal box captioned "Oh sod it" and waits for it to be dismissed.
// A pointer so that tests can run fatal_error without anyone to dismiss a box.
extern void (*fatal_message_box)(const char* message);
void fatal_message_box_show(const char* message);
// The message on stderr only, for when there is no display to show a box on.
void fatal_message_text_only(const char* message);
