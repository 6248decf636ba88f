#pragma once

#include <QString>

namespace ow {

// What the application's windows are shown on.
enum class WindowSystem { X11, Wayland, None };

// The desktop session as the environment and Qt describe it.
struct SessionEnvironment {
    QString sessionType;    // XDG_SESSION_TYPE
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString x11Display;     // DISPLAY
    QString qtPlatform;     // QGuiApplication::platformName(); empty before the application exists

    static SessionEnvironment current();
};

// Decided from what the session says, never from which display happens to answer: a
// Wayland session often has an X display too (Xwayland), and X11 grabs and X11 window
// services there reach X programs only, never native Wayland ones.
struct SessionKind {
    bool wayland = false;
    WindowSystem windows = WindowSystem::None;

    bool allowsX11Grab() const { return !wayland; }

    static SessionKind of(const SessionEnvironment& environment);
    static SessionKind current() { return of(SessionEnvironment::current()); }
};

} // namespace ow
