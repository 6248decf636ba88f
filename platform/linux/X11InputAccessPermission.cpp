#include "X11InputAccessPermission.h"

#include "X11Connection.h"

#include <QDesktopServices>

namespace ow {

X11InputAccessPermission::X11InputAccessPermission(std::function<QUrl()> helpPage)
    : m_helpPage(std::move(helpPage))
{
}

bool X11InputAccessPermission::isTrusted() const
{
    return X11Connection::open() != nullptr;
}

void X11InputAccessPermission::prompt()
{
    // X11 has no permission to ask for: being in an X11 session is all it takes.
}

void X11InputAccessPermission::openSettings()
{
    const QUrl page = m_helpPage ? m_helpPage() : QUrl();
    if (page.isValid())
        QDesktopServices::openUrl(page);
}

} // namespace ow
