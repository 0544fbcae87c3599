/* A window manager for the end-to-end tests that refuses full screen: every top-level window
 * is placed at a fixed position and size of its own choosing, whatever the window asks for,
 * and requests to change state (_NET_WM_STATE_FULLSCREEN among them) are ignored.
 *
 * Usage: refusing_wm X Y WIDTH HEIGHT (runs until killed; exits 1 when another window
 * manager is running). */
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>

static int other_wm = 0;

static int on_error(Display* display, XErrorEvent* e) {
    (void)display;
    if (e->request_code == 2 /* X_ChangeWindowAttributes */ && e->error_code == BadAccess) {
        other_wm = 1;
    }
    return 0; /* windows that are gone by the time we act on them */
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s X Y WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const int x = atoi(argv[1]), y = atoi(argv[2]);
    const unsigned w = (unsigned)atoi(argv[3]), h = (unsigned)atoi(argv[4]);
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "refusing_wm: no display\n");
        return 1;
    }
    XSetErrorHandler(on_error);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureRedirectMask | SubstructureNotifyMask);
    XSync(display, False);
    if (other_wm) {
        fprintf(stderr, "refusing_wm: another window manager is running\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    for (;;) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == MapRequest) {
            XMoveResizeWindow(display, e.xmaprequest.window, x, y, w, h);
            XMapWindow(display, e.xmaprequest.window);
            XSetInputFocus(display, e.xmaprequest.window, RevertToPointerRoot, CurrentTime);
        } else if (e.type == ConfigureRequest) {
            /* Whatever size or place is asked for, the window keeps ours. */
            XWindowChanges keep = {x, y, (int)w, (int)h, 0, None, Above};
            XConfigureWindow(display, e.xconfigurerequest.window, CWX | CWY | CWWidth | CWHeight,
                             &keep);
        }
        XSync(display, False);
    }
}
