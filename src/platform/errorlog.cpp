#include "platform/errorlog.h"

#include "platform/window.h"

#include <cstdio>

void (*fatal_message_box)(const char*) = fatal_message_box_show;

void error_log(const char* message) {
    char stamp[TIME_STAMP_SIZE];
    time_stamp(stamp);
    std::FILE* f = std::fopen("graphics_error.log", "at");
    if (!f) return;
    std::fprintf(f, "%s %s\n", stamp, message);
    std::fclose(f);
}

void fatal_message_text_only(const char* message) {
    std::fprintf(stderr, "Oh sod it: %s\n", message);
}

void fatal_error(const char* message) {
    error_log(message);
    fatal_message_box(message);
    graphics_shutdown_status(1);
}
