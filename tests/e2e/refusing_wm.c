/* A window manager that refuses full screen: every top-level window gets the place and size
 * given, whatever it asks for. Usage: refusing_wm X Y WIDTH HEIGHT (runs until killed; exits
 * 1 when another window manager runs). */
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>

static int other_wm = 0;

static int on_error(Display* display, XErrorEvent* e) {
    (void)display;
    other_wm |= e->request_code == 2 /* X_ChangeWindowAttributes */ && e->error_code == BadAccess;
    return 0; /* otherwise a window gone by the time we act on it */
}

int main(int argc, char** argv) {
    if (argc != 5) return fprintf(stderr, "usage: %s X Y WIDTH HEIGHT\n", argv[0]), 2;
    XWindowChanges keep = {atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), 0, None, Above};
    Display* display = XOpenDisplay(NULL);
    if (!display) return fprintf(stderr, "refusing_wm: no display\n"), 1;
    XSetErrorHandler(on_error);
    XSelectInput(display, DefaultRootWindow(display), SubstructureRedirectMask | SubstructureNotifyMask);
    XSync(display, False);
    if (other_wm) return fprintf(stderr, "refusing_wm: another window manager is running\n"), 1;
    printf("ready\n");
    fflush(stdout);
    for (XEvent e;;) {
        XNextEvent(display, &e);
        if (e.type == MapRequest) {
            XConfigureWindow(display, e.xmaprequest.window, CWX | CWY | CWWidth | CWHeight, &keep);
            XMapWindow(display, e.xmaprequest.window);
            XSetInputFocus(display, e.xmaprequest.window, RevertToPointerRoot, CurrentTime);
        } else if (e.type == ConfigureRequest) {
            XConfigureWindow(display, e.xconfigurerequest.window, CWX | CWY | CWWidth | CWHeight, &keep);
        }
        XSync(display, False);
    }
}
