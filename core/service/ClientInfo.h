#pragma once

#include <QString>

namespace ow {

class UserDefaults;

// What every request to the service says about the client.

// The version this build was made from.
QString appVersion();
// The system's name and version as os-release gives them, e.g. "Debian GNU/Linux 12".
QString osString();
// The device identifier the service assigned, or "?" before it has assigned one.
QString deviceIdOrUnknown(const UserDefaults& defaults);

namespace DefaultsKey {
inline constexpr char DeviceId[] = "OWDeviceId";
} // namespace DefaultsKey

} // namespace ow
