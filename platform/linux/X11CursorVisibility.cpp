#include "X11CursorVisibility.h"

#include "X11Connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

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
    int eventBase = 0;
    int errorBase = 0;
    int major = 4;
    int minor = 0;
    // Hiding the cursor needs XFixes 4.
    if (!XFixesQueryExtension(m_connection->display(), &eventBase, &errorBase)
        || !XFixesQueryVersion(m_connection->display(), &major, &minor) || major < 4) {
        m_connection.reset();
        return false;
    }
    return true;
}

void X11CursorVisibility::hide()
{
    if (!ensureConnection())
        return;
    XFixesHideCursor(m_connection->display(), m_connection->root());
    XFlush(m_connection->display());
    ++m_hidden;
}

void X11CursorVisibility::show()
{
    if (m_hidden == 0 || !m_connection)
        return;
    XFixesShowCursor(m_connection->display(), m_connection->root());
    XFlush(m_connection->display());
    --m_hidden;
}

} // namespace ow
