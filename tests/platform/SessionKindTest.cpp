#include "QtPlatformChoice.h"
#include "SessionKind.h"
#include "TaskbarPresence.h"
#include "WindowServices.h"
#include "X11CursorVisibility.h"
#include "X11WindowStacking.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ow;
using namespace Qt::StringLiterals;

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
        {"wayland", "wayland-0", "", true, "wayland;xcb"}, {"wayland", "wayland-0", "", false, "xcb"},
        {"", "wayland-0", "", true, "wayland;xcb"},     {"wayland", "", "", true, "wayland;xcb"},
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

// Qt's wayland platform is found by its file in a folder's platforms, whatever its flavour.
TEST(QtPlatformChoice, FindsTheWaylandPluginInAnyPluginFolder)
{
    const struct { const char* file; bool found; } rows[] = {
        {"libqwayland-generic.so", true}, {"libqwayland-egl.so", true}, {"libqxcb.so", false},
        {"libqwayland-generic.so.debug", false}, {"libqwayland-egl.so/", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const QTemporaryDir other, folder;
        const QString file = folder.filePath(u"platforms/"_s + QLatin1String(row.file));
        QDir().mkpath(folder.filePath(u"platforms"_s));
        ASSERT_TRUE(file.endsWith(u'/') ? QDir().mkpath(file) : QFile(file).open(QIODevice::WriteOnly));
        EXPECT_EQ(QtPlatformChoice::waylandPluginIn({other.path(), folder.path()}), row.found);
    }
}

// X11 services only for X11 windows outside Wayland; the display kept awake through the
// portal, never the X screen saver, in a Wayland session; elsewhere the pointer is hidden
// over our own windows.
TEST(WindowServices, EachServiceInTheMeaningOfTheSession)
{
    using enum WindowSystem;
    using Fallback = LinuxDisplaySleepAssertion::Fallback;
    const struct { bool wayland; WindowSystem windows; bool x11; Fallback sleep; } rows[] = {
        {false, X11, true, Fallback::X11ScreenSaver},
        {true, Wayland, false, Fallback::InhibitPortal},
        {true, None, false, Fallback::InhibitPortal},
        {false, None, false, Fallback::X11ScreenSaver},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.wayland << " " << int(row.windows));
        WindowServices services({row.wayland, row.windows});
        EXPECT_EQ(dynamic_cast<X11CursorVisibility*>(&services.cursor()) != nullptr, row.x11);
        EXPECT_EQ(dynamic_cast<X11WindowStacking*>(&services.stacking()) != nullptr, row.x11);
        EXPECT_EQ(services.taskbar().canSkipTaskbar(), row.x11);
        EXPECT_EQ(services.displaySleep().fallback(), row.sleep);
        if (row.x11)
            continue;
        // Hides and shows are counted, and an extra show undoes nothing of anyone else's.
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); // someone else's
        const std::pair<bool, bool> steps[] = {{true, true}, {true, true}, {false, true}, {false, false}, {false, false}};
        for (const auto& [hide, blank] : steps) {
            hide ? services.cursor().hide() : services.cursor().show();
            const QCursor* cursor = QGuiApplication::overrideCursor();
            EXPECT_EQ(cursor && cursor->shape() == Qt::BlankCursor, blank);
        }
        ASSERT_TRUE(QGuiApplication::overrideCursor());
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QGuiApplication::restoreOverrideCursor();
    }
}

} // namespace
