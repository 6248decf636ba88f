#include "X11TaskbarPresence.h"

#include "X11Connection.h"

#include <X11/Xlib.h>

namespace ow {

void X11TaskbarPresence::setSkipTaskbar(WId window, bool skip)
{
    const auto connection = X11Connection::open();
    if (!connection)
        return;
    Display* display = connection->display();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = skip ? 1 : 0; // _NET_WM_STATE_ADD or _REMOVE
    event.xclient.data.l[1] = long(XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False));
    event.xclient.data.l[2] = long(XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False));
    event.xclient.data.l[3] = 1; // from a normal application
    XSendEvent(display, connection->root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}

} // namespace ow
