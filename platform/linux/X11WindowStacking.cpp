#include "X11WindowStacking.h"

#include "X11Connection.h"

#include <X11/Xlib.h>

namespace ow {

X11WindowStacking::X11WindowStacking() = default;

X11WindowStacking::~X11WindowStacking()
{
    release();
}

void X11WindowStacking::keepOnTop(const QList<WId>& windows)
{
    m_windows = windows;
    if (!m_connection) {
        m_connection = X11Connection::open();
        if (!m_connection)
            return;
        XSelectInput(m_connection->display(), m_connection->root(), SubstructureNotifyMask);
        m_notifier = std::make_unique<QSocketNotifier>(m_connection->fd(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    raiseGuarded();
}

void X11WindowStacking::release()
{
    m_notifier.reset();
    m_connection.reset();
    m_windows.clear();
}

bool X11WindowStacking::isGuarded(unsigned long window) const
{
    for (WId id : m_windows) {
        if (id == window)
            return true;
    }
    return false;
}

void X11WindowStacking::raiseGuarded()
{
    if (!m_connection || m_connection->isBroken())
        return;
    Display* display = m_connection->display();
    for (WId id : m_windows)
        XRaiseWindow(display, id);
    XFlush(display);
}

void X11WindowStacking::drain()
{
    if (!m_connection)
        return;
    Display* display = m_connection->display();
    bool coveredMaybe = false;
    XEvent event;
    while (!m_connection->isBroken() && XPending(display) > 0) {
        XNextEvent(display, &event);
        switch (event.type) {
        case MapNotify:
            coveredMaybe |= !isGuarded(event.xmap.window);
            break;
        case ConfigureNotify:
            coveredMaybe |= !isGuarded(event.xconfigure.window);
            break;
        case CirculateNotify:
            coveredMaybe |= !isGuarded(event.xcirculate.window);
            break;
        default:
            break;
        }
    }
    // Our own raises come back as ConfigureNotify of guarded windows and are ignored,
    // so this never feeds itself.
    if (coveredMaybe)
        raiseGuarded();
}

} // namespace ow
