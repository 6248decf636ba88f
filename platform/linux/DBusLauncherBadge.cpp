#include "DBusLauncherBadge.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace ow {

const QString DBusLauncherBadge::kObjectPath = QStringLiteral("/com/orbinlabs/OrbinWash/LauncherEntry");
// Listeners match the entry to a launcher by the desktop file's name.
const QString DBusLauncherBadge::kAppUri = QStringLiteral("application://orbinwash.desktop");

void DBusLauncherBadge::setBadgeLabel(const QString& label)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The signal carries a count, not a text: anything but a positive number hides it.
    const qint64 count = qMax<qint64>(label.toLongLong(), 0);
    const QVariantMap properties{
        {QStringLiteral("count"), QVariant::fromValue(count)},
        {QStringLiteral("count-visible"), count > 0},
    };
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    signal << kAppUri << properties;
    bus.send(signal);
}

} // namespace ow
