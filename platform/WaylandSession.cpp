#include "WaylandSession.h"

#include <QString>
#include <QtGlobal>

namespace ow {

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace ow
