// Time stamp and message box on Linux.
#include "platform/errorlog.h"

#include <SDL.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <locale.h>

void time_stamp(char* out) {
    char date[100] = "";
    char time_of_day[100] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // The user's locale for the month name, without changing the process-wide locale.
    locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (user) {
        strftime_l(date, sizeof date, "%Y-%b-%d", &local, user);
        freelocale(user);
    } else {
        std::strftime(date, sizeof date, "%Y-%b-%d", &local);
    }
    std::strftime(time_of_day, sizeof time_of_day, "%H:%M:%S", &local);
    std::snprintf(out, TIME_STAMP_SIZE, "%s %s", date, time_of_day);
}

void fatal_message_box_show(const char* message) {
    // Also on stderr: the box cannot show without a display.
    fatal_message_text_only(message);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Oh sod it", message, nullptr);
}
