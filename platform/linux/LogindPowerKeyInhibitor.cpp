#include "LogindPowerKeyInhibitor.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace ow {

LogindPowerKeyInhibitor::LogindPowerKeyInhibitor(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

LogindPowerKeyInhibitor::~LogindPowerKeyInhibitor()
{
    release();
}

bool LogindPowerKeyInhibitor::acquire(const QString& reason)
{
    if (m_fd >= 0)
        return true;
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    // Not the lid switch: closing the lid is the user's own decision.
    call << QStringLiteral("handle-power-key:handle-suspend-key:handle-hibernate-key")
         << QStringLiteral("OrbinWash") << reason << QStringLiteral("block");
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return false;
    const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    if (!fd.isValid())
        return false;
    // Our own copy, closed exactly at release; Qt's goes with the reply.
    m_fd = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    return m_fd >= 0;
}

void LogindPowerKeyInhibitor::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

} // namespace ow
