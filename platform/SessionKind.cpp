#include "SessionKind.h"

#include <QGuiApplication>

namespace ow {

SessionEnvironment SessionEnvironment::current()
{
    return {qEnvironmentVariable("XDG_SESSION_TYPE"), qEnvironmentVariable("WAYLAND_DISPLAY"),
            qEnvironmentVariable("DISPLAY"), QGuiApplication::platformName()};
}

SessionKind SessionKind::of(const SessionEnvironment& environment)
{
    // Qt's wayland platform ("wayland", "wayland-egl") connects to wayland-0 when no
    // display is named.
    const bool qtOnWayland = environment.qtPlatform.startsWith(QLatin1String("wayland"));
    SessionKind kind;
    kind.wayland = environment.sessionType == QLatin1String("wayland") || !environment.waylandDisplay.isEmpty()
        || qtOnWayland;
    if (environment.qtPlatform.isEmpty())
        kind.windows = kind.wayland ? WindowSystem::Wayland
            : environment.x11Display.isEmpty() ? WindowSystem::None
                                                : WindowSystem::X11;
    else if (qtOnWayland || (environment.qtPlatform == QLatin1String("xcb") && kind.wayland))
        kind.windows = WindowSystem::Wayland;
    else if (environment.qtPlatform == QLatin1String("xcb"))
        kind.windows = WindowSystem::X11;
    return kind;
}

} // namespace ow
