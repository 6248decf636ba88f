#pragma once

#include "AppDelegate.h"
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeHttpClient.h"
#include "FakeInputAccessPermission.h"
#include "FakeInputGrab.h"
#include "FakeLauncherBadge.h"
#include "FakeLockWatchdog.h"
#include "FakeLoginItem.h"
#include "FakeScreenList.h"
#include "FakeSystemLog.h"
#include "FakeTaskbarPresence.h"
#include "FakeWindowStacking.h"
#include "MemoryUserDefaults.h"
#include "UpdateController.h"

#include <QTemporaryDir>

#include <memory>

namespace ow {
class MainWindow;
class SettingsView;
}

namespace ow::test {

// Every platform service of the application shell as a fake, for tests that build an
// AppDelegate in process. The HTTP client is the test's own: each case needs another.
struct ShellFakes {
    // The services wired as the application wires them; a test sets what else it needs.
    AppDelegate::Services services(HttpClient& http);
    // The real lock engine over a fake grab, which `grab` then points to.
    std::unique_ptr<LockEngine> lockEngine();
    // Update checks that never reach the network, with their settings in `dir`, recorded
    // in `feedRequests`.
    std::unique_ptr<UpdateController> updates();
    // Update checks whose feed a real client finds refused at once.
    static std::unique_ptr<UpdateController> offlineUpdates(Clock& clock, HttpClient& http,
                                                            const QString& settingsPath);

    // Builds `delegate` on these fakes, on a desktop whose tray host runs while `trayHost`
    // says so. `asked`: the first launch's question was answered with `tray`; otherwise the
    // store keeps what the test put there. `start`: launched, and what the launch queued run.
    void buildShell(HttpClient& http, bool tray, bool start = true, bool asked = true);
    // Runs what was posted and what Qt queued.
    void settle();
    // Ends a running lock the way the user does: both Ctrl keys held for the hold time.
    void holdToUnlock();
    // Destroys the shell before the test's own members it uses.
    void tearDownShell();

    MainWindow* window() const { return delegate->mainWindow(); }
    SettingsView* settings() const { return delegate->settingsView(); }
    bool skipsTaskbar() const;
    // The tray icon on show, if any; a removed one may linger hidden until deleted.
    QSystemTrayIcon* trayIcon() const;
    // The tray menu's item with this catalogue key's text.
    QAction* trayMenuItem(const char* key) const;

    QTemporaryDir dir;
    // The update checks' requests, never answered.
    FakeHttpClient feedRequests;
    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    FakeDisplaySleepAssertion sleep;
    FakeScreenList screens;
    FakeWindowStacking stacking;
    FakeLockWatchdog watchdog;
    FakeInputAccessPermission permission;
    FakeTaskbarPresence taskbar;
    FakeLauncherBadge launcher;
    FakeLoginItem loginItem;
    FakeSystemLog log;
    FakeInputGrab* grab = nullptr;
    bool trayHost = true;
    int crashReporterInstalls = 0;
    QList<QUrl> opened; // by the user's browser
    // The companion service's addresses; empty for the built-in ones.
    QUrl checkInUrl;
    QUrl reportUrl;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace ow::test
