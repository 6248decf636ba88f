#include "ClientInfo.h"

#include "UserDefaults.h"

#include <QSysInfo>

namespace ow {

QString appVersion()
{
    return QStringLiteral(OW_VERSION);
}

QString osString()
{
    return QSysInfo::prettyProductName();
}

QString deviceIdOrUnknown(const UserDefaults& defaults)
{
    const QString id = defaults.string(QLatin1String(DefaultsKey::DeviceId));
    return id.isEmpty() ? QStringLiteral("?") : id;
}

} // namespace ow
