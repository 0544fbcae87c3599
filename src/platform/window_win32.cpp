// The window, OpenGL context and input on Windows: Win32 and WGL.
#include "platform/window_win32.h"

#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdlib>

HINSTANCE app_instance = nullptr;
HWND main_window = nullptr;
HDC device_context = nullptr;
HGLRC gl_context = nullptr;

namespace {

bool input_taken = true;  // the window procedure hands mouse messages on

bool win32_minimised() { return IsIconic(main_window) != 0; }

void win32_raise_topmost() {
    SetWindowPos(main_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void win32_read_keyboard(unsigned char out[256]) { GetKeyboardState(out); }

// Minimises without destroying.
void win32_minimise() { CloseWindow(main_window); }

}  // namespace

int graphics_open(int width, int height, const char* title) {
    // A console program (the scripted run) has no WinMain to store the instance.
    if (!app_instance) app_instance = GetModuleHandleA(nullptr);

    // 1. Drawing size and position.
    int x = 0, y = 0;
    const int requested_width = width;
    if (event_source->fixed_width > 0) {
        width = event_source->fixed_width;
        height = event_source->fixed_height;
    }
    if (width == 0) {
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
        if (windowed) {
            width = static_cast<int>(width * 0.6);
            height = static_cast<int>(height * 0.6);
        }
    } else if (width == -1) {
        x = GetSystemMetrics(SM_XVIRTUALSCREEN);
        y = GetSystemMetrics(SM_YVIRTUALSCREEN);
        width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    }
    screen_width = width;
    screen_height = height;

    // 2. A framed window: outer size, centred on the cursor, kept on the virtual desktop.
    int outer_w = width, outer_h = height;
    if (windowed) {
        outer_w = width + 2 * GetSystemMetrics(SM_CXFRAME);
        outer_h = height + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME);
        POINT cursor{};
        GetCursorPos(&cursor);
        const int vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
        const int vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        x = std::max(vx, std::min(static_cast<int>(cursor.x) - outer_w / 2, vx + vw - outer_w));
        y = std::max(vy, std::min(static_cast<int>(cursor.y) - outer_h / 2, vy + vh - outer_h));
    }

    // 3.
    if (screen_width == 0 || screen_height == 0) return 0;

    // 4.
    input_reset();

    // 5. The window class.
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    wc.lpfnWndProc = graphics_window_proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = app_instance;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = "OpenGL WinClass";
    if (!RegisterClassA(&wc)) fatal_error("Failed To Register The Window Class.");

    // 6. The window.
    DWORD style = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    style |= windowed ? (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX) : WS_POPUP;
    main_window = CreateWindowExA(0, "OpenGL WinClass", title, style, x, y, outer_w, outer_h,
                                  nullptr, nullptr, app_instance, nullptr);
    if (!main_window) fatal_error("Window Creation Error.");

    // 7.
    device_context = GetDC(main_window);

    // 8, 9. The pixel format.
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 24;
    pfd.cDepthBits = 32;
    pfd.cStencilBits = 0;
    pfd.cAuxBuffers = 0;
    pfd.iLayerType = PFD_MAIN_PLANE;
    int format = ChoosePixelFormat(device_context, &pfd);
    if (!format) fatal_error("Can't Find A Suitable PixelFormat.");
    if (!SetPixelFormat(device_context, format, &pfd)) fatal_error("Can't Set The PixelFormat.");

    // 10, 11. The rendering context.
    gl_context = wglCreateContext(device_context);
    if (!gl_context) fatal_error("Can't Create A GL Rendering Context.");
    if (!wglMakeCurrent(device_context, gl_context)) fatal_error("Can't activate GLRC.");
    gl_context_report("no version or profile");

    // 12.
    gl_start_state(screen_width, screen_height);

    // 13. Only an explicit size changes the display mode; its result is ignored.
    if (!windowed && requested_width > 0) {
        DEVMODEA mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = static_cast<DWORD>(screen_width);
        mode.dmPelsHeight = static_cast<DWORD>(screen_height);
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
    }

    // 14.
    if (!windowed) ShowCursor(FALSE);
    return 1;
}

int window_messages(bool take_input) {
    input_taken = take_input;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!GetMessageA(&msg, nullptr, 0, 0)) return 1;  // the quit message
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

LRESULT CALLBACK graphics_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
        case WM_DESTROY:
            graphics_shutdown();
        case WM_SIZE:
            resize(LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_SYSKEYDOWN:
            return 0;  // Alt combinations and F10 never reach the default handler
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            if (input_taken) mouse_button_message(static_cast<uint32_t>(wparam));
            return 0;
        case WM_MOUSEWHEEL:
            if (input_taken) {
                mouse_wheel_message(static_cast<int32_t>(static_cast<uint32_t>(wparam)));
            }
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

void graphics_shutdown() { graphics_shutdown_status(0); }

void graphics_shutdown_status(int status) {
    if (!windowed) ChangeDisplaySettingsA(nullptr, 0);
    wglMakeCurrent(nullptr, nullptr);
    if (gl_context) wglDeleteContext(gl_context);
    if (device_context) ReleaseDC(main_window, device_context);
    PostQuitMessage(0);
    std::exit(status);
}

void* gl_proc_address(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

void swap_window_buffers() {
    if (device_context) SwapBuffers(device_context);
}

namespace {

void win32_mouse_motion(int* dx, int* dy) {
    RECT r{};
    GetWindowRect(main_window, &r);
    const int cx = (r.left + r.right) / 2;
    const int cy = (r.top + r.bottom) / 2;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (dx) *dx = cursor.x - cx;
    if (dy) *dy = cursor.y - cy;
    SetCursorPos(cx, cy);
}

}  // namespace

const EventSource os_events = {[] { return window_messages(true); }, win32_minimised,
                               win32_raise_topmost, win32_read_keyboard, win32_minimise,
                               win32_mouse_motion, clock_calibrate, 0, 0};
