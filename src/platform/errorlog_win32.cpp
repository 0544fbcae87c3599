// Time stamp and message box on Windows.
#include "platform/errorlog.h"

#include <windows.h>

#include <cstdio>

void time_stamp(char* out) {
    char date[100] = "";
    char time_of_day[100] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "yyyy-MMM-dd", date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, nullptr, "HH:mm:ss", time_of_day,
                   sizeof time_of_day);
    std::snprintf(out, TIME_STAMP_SIZE, "%s %s", date, time_of_day);
}

void fatal_message_box_show(const char* message) {
    fatal_message_text_only(message);  // for a console, or Wine's terminal
    MessageBoxA(nullptr, message, "Oh sod it", MB_ICONHAND | MB_SETFOREGROUND);
}
