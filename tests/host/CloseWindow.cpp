// Test tool: asks the top-level window of a process to close, as a window
// manager's close button does (a WM_DELETE_WINDOW message).
//   close_window PID       status 0 once sent; 1 without display or window
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The first window under `window` whose _NET_WM_PID is pid; 0 when none.
Window FindWindow(Display* display, Window window, Atom pidAtom, unsigned long pid)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        const bool match = count == 1 && *reinterpret_cast<unsigned long*>(data) == pid;
        XFree(data);
        if (match)
            return window;
    }
    Window root, parent, *children = nullptr;
    unsigned int childCount = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &childCount)) {
        for (unsigned int i = 0; i < childCount && !found; ++i)
            found = FindWindow(display, children[i], pidAtom, pid);
        if (children)
            XFree(children);
    }
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: close_window PID\n");
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const unsigned long pid = std::strtoul(argv[1], nullptr, 10);
    const Window window = FindWindow(display, DefaultRootWindow(display), XInternAtom(display, "_NET_WM_PID", False), pid);
    if (!window) {
        std::fprintf(stderr, "close_window: no window of process %lu\n", pid);
        XCloseDisplay(display);
        return 1;
    }
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
