#include "HoldDuration.h"

#include "UserDefaults.h"

namespace ow {

namespace {

constexpr qint64 kMinSeconds = 1;
constexpr qint64 kMaxSeconds = 30;
constexpr double kDefaultSeconds = 3.0;

bool valid(qint64 seconds)
{
    return seconds >= kMinSeconds && seconds <= kMaxSeconds;
}

} // namespace

double holdDuration(const UserDefaults& defaults)
{
    const qint64 user = defaults.integer(QLatin1String(DefaultsKey::HoldSecondsUser));
    if (valid(user))
        return double(user);
    const qint64 server = defaults.integer(QLatin1String(DefaultsKey::HoldSeconds));
    if (valid(server))
        return double(server);
    return kDefaultSeconds;
}

} // namespace ow
