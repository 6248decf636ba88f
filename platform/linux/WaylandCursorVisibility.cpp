#include "WaylandCursorVisibility.h"

#include <QCursor>
#include <QGuiApplication>

namespace ow {

WaylandCursorVisibility::~WaylandCursorVisibility()
{
    while (m_hidden > 0)
        show();
}

void WaylandCursorVisibility::hide()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    ++m_hidden;
}

void WaylandCursorVisibility::show()
{
    if (m_hidden == 0)
        return;
    QGuiApplication::restoreOverrideCursor();
    --m_hidden;
}

} // namespace ow
