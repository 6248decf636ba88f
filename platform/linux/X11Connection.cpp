#include "X11Connection.h"

#include "SessionKind.h"

#include <QtGlobal>

#include <mutex>

#include <X11/Xlib.h>

namespace ow {

namespace {

int logXError(Display* display, XErrorEvent* error)
{
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    qWarning("X error: %s (request %d.%d, resource 0x%lx)", text, int(error->request_code),
             int(error->minor_code), error->resourceid);
    return 0;
}

int logXIOError(Display*)
{
    qWarning("X connection lost");
    return 0;
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    if (SessionKind::current().wayland)
        return nullptr;
    static std::once_flag handlersInstalled;
    std::call_once(handlersInstalled, [] {
        XSetErrorHandler(logXError);
        XSetIOErrorHandler(logXIOError);
    });
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

std::shared_ptr<X11Connection> X11Connection::shared()
{
    static std::weak_ptr<X11Connection> current;
    std::shared_ptr<X11Connection> connection = current.lock();
    if (!connection || connection->isBroken()) {
        connection = open();
        current = connection;
    }
    return connection;
}

X11Connection::X11Connection(_XDisplay* display)
    : m_display(display)
    , m_root(XDefaultRootWindow(display))
{
    // Without this, Xlib calls exit() when the server goes away.
    XSetIOErrorExitHandler(display, &X11Connection::onIOError, this);
}

X11Connection::~X11Connection()
{
    XCloseDisplay(m_display);
}

int X11Connection::fd() const
{
    return XConnectionNumber(m_display);
}

void X11Connection::onIOError(_XDisplay*, void* self)
{
    static_cast<X11Connection*>(self)->m_broken = true;
}

} // namespace ow
