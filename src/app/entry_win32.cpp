// The Windows program's entry point.
#include "app/main_loop.h"
#include "platform/window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    app_instance = instance;
    main_loop(command_line);
    return 0;
}
