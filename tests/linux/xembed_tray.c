/* A legacy X11 system tray (XEmbed): it owns the tray selection of screen 0,
 * announces itself with MANAGER, and docks every icon that asks into a grey
 * strip at the top left of the screen. It prints "ready" once it owns the
 * selection, then "docked <window>" for each icon; the tests find the icons
 * by their windows. */
#include <X11/Xlib.h>
#include <stdio.h>

enum { kIconSize = 24, kRequestDock = 0 };

static int IgnoreErrors(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;
    return 0; /* an icon that went away before it was docked */
}

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreErrors);
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const Window tray =
        XCreateSimpleWindow(display, root, 0, 0, 10 * kIconSize, kIconSize, 0, 0, 0x808080);
    XMapWindow(display, tray);
    char name[32];
    snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", screen);
    const Atom selection = XInternAtom(display, name, False);
    const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
    XSetSelectionOwner(display, selection, tray, CurrentTime);
    if (XGetSelectionOwner(display, selection) != tray) {
        fprintf(stderr, "the tray selection is taken\n");
        return 1;
    }
    XEvent manager = {0};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = root;
    manager.xclient.message_type = XInternAtom(display, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = (long)selection;
    manager.xclient.data.l[2] = (long)tray;
    XSendEvent(display, root, False, StructureNotifyMask, &manager);
    XFlush(display);
    printf("ready\n");
    fflush(stdout);

    int docked = 0;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != ClientMessage || event.xclient.message_type != opcode ||
            event.xclient.data.l[1] != kRequestDock) {
            continue;
        }
        const Window icon = (Window)event.xclient.data.l[2];
        XReparentWindow(display, icon, tray, (docked++ % 10) * kIconSize, 0);
        XResizeWindow(display, icon, kIconSize, kIconSize);
        XMapWindow(display, icon);
        XFlush(display);
        printf("docked 0x%lx\n", (unsigned long)icon);
        fflush(stdout);
    }
}
