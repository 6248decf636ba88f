#include "X11CursorVisibility.h"

#include "X11Connection.h"

#include <X11/Xlib-xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

namespace ow {

X11CursorVisibility::X11CursorVisibility() = default;
X11CursorVisibility::~X11CursorVisibility() = default;

bool X11CursorVisibility::ensureConnection()
{
    if (m_connection && !m_connection->isBroken())
        return true;
    m_connection = X11Connection::shared();
    if (!m_connection)
        return false;
    // Hiding the cursor needs XFixes 4; on XCB, whose XFixes library the toolkit loads.
    xcb_connection_t* xcb = XGetXCBConnection(m_connection->display());
    xcb_xfixes_query_version_reply_t* version =
        xcb_xfixes_query_version_reply(xcb, xcb_xfixes_query_version(xcb, 4, 0), nullptr);
    const bool hides = version && version->major_version >= 4;
    std::free(version);
    if (!hides)
        m_connection.reset();
    return hides;
}

void X11CursorVisibility::hide()
{
    if (!ensureConnection())
        return;
    xcb_connection_t* xcb = XGetXCBConnection(m_connection->display());
    xcb_xfixes_hide_cursor(xcb, xcb_window_t(m_connection->root()));
    xcb_flush(xcb);
    ++m_hidden;
}

void X11CursorVisibility::show()
{
    if (m_hidden == 0 || !m_connection)
        return;
    xcb_connection_t* xcb = XGetXCBConnection(m_connection->display());
    xcb_xfixes_show_cursor(xcb, xcb_window_t(m_connection->root()));
    xcb_flush(xcb);
    --m_hidden;
}

} // namespace ow
