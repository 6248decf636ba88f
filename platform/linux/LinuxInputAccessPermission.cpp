#include "LinuxInputAccessPermission.h"

#include "InputGuard.h"
#include "X11Connection.h"

#include <QDesktopServices>

namespace ow {

LinuxInputAccessPermission::LinuxInputAccessPermission(InputGuard& guard, std::function<QUrl()> helpPage)
    : m_guard(guard)
    , m_helpPage(std::move(helpPage))
{
}

bool LinuxInputAccessPermission::isTrusted() const
{
    return m_guard.canLock() || X11Connection::open() != nullptr;
}

void LinuxInputAccessPermission::prompt()
{
    // Nothing to ask for: the guard's own policy allows every local, active session.
}

void LinuxInputAccessPermission::openSettings()
{
    const QUrl page = m_helpPage ? m_helpPage() : QUrl();
    if (page.isValid())
        QDesktopServices::openUrl(page);
}

} // namespace ow
