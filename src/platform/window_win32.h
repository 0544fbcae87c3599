#pragma once
// Win32 handles of the one window, for the other Windows-only files.
#include <windows.h>

extern HINSTANCE app_instance;  // stored by WinMain before anything else runs
extern HWND main_window;
extern HDC device_context;
extern HGLRC gl_context;

LRESULT CALLBACK graphics_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
