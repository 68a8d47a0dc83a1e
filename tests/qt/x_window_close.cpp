#include "tests/qt/x_window_close.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kestrafin::testing {

namespace {

// The top-level window titled `title`, or 0.
Window find_window(Display* display, const std::string& title) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        // The title is set in UTF-8, which WM_NAME's plain reader refuses.
        XTextProperty name{};
        if (XGetWMName(display, children[i], &name) && name.value != nullptr) {
            if (title == std::string(reinterpret_cast<const char*>(name.value), name.nitems))
                found = children[i];
            XFree(name.value);
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

bool request_window_close(const std::string& display_name, const std::string& title) {
    Display* display = XOpenDisplay(display_name.c_str());
    if (display == nullptr) return false;
    const Window window = find_window(display, title);
    if (window != 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return window != 0;
}

}  // namespace kestrafin::testing
