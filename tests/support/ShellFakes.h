#pragma once

#include "AppDelegate.h"
#include "CountingNetwork.h"
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
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

namespace ow::test {

// Every platform service of the application shell as a fake, for tests that build an
// AppDelegate in process. The HTTP client is the test's own: each case needs another.
struct ShellFakes {
    // The services wired as the application wires them; a test sets what else it needs.
    AppDelegate::Services services(HttpClient& http);
    // The real lock engine over a fake grab, which `grab` then points to.
    std::unique_ptr<LockEngine> lockEngine();
    // Update checks that never reach the network, with their settings in `dir`, counted
    // in `feedRequests`.
    std::unique_ptr<UpdateController> updates();
    static std::unique_ptr<UpdateController> offlineUpdates(Clock& clock, const QString& settingsPath,
                                                            QNetworkAccessManager* network = nullptr);

    QTemporaryDir dir;
    CountingNetwork feedRequests;
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
};

} // namespace ow::test
