#include "QtPlatformChoice.h"
#include "SessionKind.h"

#include <gtest/gtest.h>

using namespace ow;

namespace {

// XDG_SESSION_TYPE, WAYLAND_DISPLAY, DISPLAY, Qt's platform ("" before the application exists).
TEST(SessionKind, AWaylandSessionIsNeverTakenForX11EvenThroughXwayland)
{
    using enum WindowSystem;
    const struct { const char *type, *wayland, *x11, *qt; bool isWayland; WindowSystem windows; } rows[] = {
        {"x11", "", ":0", "xcb", false, X11},
        {"tty", "", ":1", "xcb", false, X11},
        {"", "", ":0", "", false, X11},
        {"wayland", "wayland-0", ":0", "wayland", true, Wayland},
        {"wayland", "wayland-0", ":0", "xcb", true, Wayland},
        {"", "wayland-0", ":0", "xcb", true, Wayland},
        {"wayland", "", ":0", "xcb", true, Wayland},
        {"x11", "wayland-1", ":0", "xcb", true, Wayland},
        {"", "", "", "wayland", true, Wayland},
        {"", "", "", "wayland-egl", true, Wayland},
        {"wayland", "wayland-0", ":0", "", true, Wayland},
        {"", "", "", "", false, None},
        {"x11", "", ":0", "offscreen", false, None},
        {"wayland", "wayland-0", "", "offscreen", true, None},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.type << "|" << row.wayland << "|" << row.x11 << "|" << row.qt);
        const SessionKind kind = SessionKind::of({QLatin1String(row.type), QLatin1String(row.wayland),
                                                  QLatin1String(row.x11), QLatin1String(row.qt)});
        EXPECT_EQ(kind.wayland, row.isWayland);
        EXPECT_EQ(kind.allowsX11Grab(), !row.isWayland);
        EXPECT_EQ(kind.windows, row.windows);
    }
}

// A Wayland session starts on Qt's wayland platform, else on Xwayland; the platform the user
// names and an X11 session are left to Qt.
TEST(QtPlatformChoice, WaylandFirstXwaylandWithoutThePluginAndANamedPlatformKept)
{
    const struct { const char *type, *wayland, *named; bool plugin; const char* chosen; } rows[] = {
        {"wayland", "wayland-0", "", true, "wayland"}, {"wayland", "wayland-0", "", false, "xcb"},
        {"", "wayland-0", "", true, "wayland"},        {"wayland", "", "", true, "wayland"},
        {"wayland", "wayland-0", "xcb", true, ""},     {"wayland", "wayland-0", "offscreen", false, ""},
        {"x11", "", "", true, ""},                     {"", "", "", true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.type << "|" << row.wayland << "|" << row.named << "|" << row.plugin);
        const SessionEnvironment environment{QLatin1String(row.type), QLatin1String(row.wayland),
                                             QStringLiteral(":0"), QString()};
        EXPECT_EQ(QtPlatformChoice::choose(environment, row.named, row.plugin), QByteArray(row.chosen));
    }
}

} // namespace
