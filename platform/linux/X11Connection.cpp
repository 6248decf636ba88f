#include "X11Connection.h"

#include "SessionKind.h"

#include <QGuiApplication>
#include <QtGlobal>

#include <mutex>

#include <X11/Xlib-xcb.h>
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

void installHandlers()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        XSetErrorHandler(logXError);
        XSetIOErrorHandler(logXIOError);
    });
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    if (SessionKind::current().wayland)
        return nullptr;
    installHandlers();
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Connection>(new X11Connection(display, true));
}

std::shared_ptr<X11Connection> X11Connection::shared()
{
    static std::weak_ptr<X11Connection> current;
    std::shared_ptr<X11Connection> connection = current.lock();
    if (connection && !connection->isBroken())
        return connection;
    // The toolkit's own connection, where it has one: another would cost its buffers.
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->display() && !SessionKind::current().wayland) {
        installHandlers();
        connection.reset(new X11Connection(x11->display(), false));
    } else {
        connection = open();
    }
    current = connection;
    return connection;
}

X11Connection::X11Connection(_XDisplay* display, bool owned)
    : m_display(display)
    , m_root(XDefaultRootWindow(display))
    , m_owned(owned)
{
    // Without this, Xlib calls exit() when the server goes away; the toolkit sees to its own.
    if (owned)
        XSetIOErrorExitHandler(display, &X11Connection::onIOError, this);
}

X11Connection::~X11Connection()
{
    if (m_owned)
        XCloseDisplay(m_display);
}

bool X11Connection::isBroken() const
{
    return m_broken || xcb_connection_has_error(XGetXCBConnection(m_display));
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
