#pragma once

#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeFatalErrorHooks.h"
#include "FakeHttpClient.h"
#include "FakeInputAccessPermission.h"
#include "FakeInputGrab.h"
#include "FakeInputGuard.h"
#include "FakeLauncherBadge.h"
#include "FakeLockWatchdog.h"
#include "FakeLoginItem.h"
#include "FakeScreenList.h"
#include "FakeSystemLog.h"
#include "FakeTaskbarPresence.h"
#include "FakeWindowBlitter.h"
#include "FakeWindowStacking.h"
#include "MemoryUserDefaults.h"
#include "Platform.h"

namespace ow {

// Every platform service as its fake, in virtual time; the HTTP client holds every request
// it has no answer for. Each accessor gives the fake itself, for the test to script and read.
class FakePlatform : public Platform {
public:
    FakeClock& clock() override { return m_clock; }
    MemoryUserDefaults& defaults() override { return m_defaults; }
    FakeCursorVisibility& cursor() override { return m_cursor; }
    FakeDisplaySleepAssertion& displaySleep() override { return m_displaySleep; }
    FakeScreenList& screens() override { return m_screens; }
    FakeWindowStacking& stacking() override { return m_stacking; }
    FakeWindowBlitter& blitter() override { return m_blitter; }
    FakeLockWatchdog& watchdog() override { return m_watchdog; }
    FakeInputGuard& inputGuard() override { return m_guard; }
    FakeInputAccessPermission& permission() override { return m_permission; }
    FakeTaskbarPresence& taskbar() override { return m_taskbar; }
    FakeLauncherBadge& launcher() override { return m_launcher; }
    FakeHttpClient& http() override { return m_http; }
    FakeLoginItem& loginItem() override { return m_loginItem; }
    FakeSystemLog& log() override { return m_log; }
    FakeFatalErrorHooks& fatalErrorHooks() override { return m_fatalErrorHooks; }
    std::unique_ptr<InputGrab> makeInputGrab() override;
    std::unique_ptr<PowerKeyInhibitor> makePowerKeyInhibitor() override;

    // The input grab of the last lock engine built on this platform.
    FakeInputGrab* grab = nullptr;

private:
    FakeClock m_clock;
    MemoryUserDefaults m_defaults;
    FakeCursorVisibility m_cursor;
    FakeDisplaySleepAssertion m_displaySleep;
    FakeScreenList m_screens;
    FakeWindowStacking m_stacking;
    FakeWindowBlitter m_blitter{m_clock};
    FakeLockWatchdog m_watchdog;
    FakeInputGuard m_guard;
    FakeInputAccessPermission m_permission;
    FakeTaskbarPresence m_taskbar;
    FakeLauncherBadge m_launcher;
    FakeHttpClient m_http;
    FakeLoginItem m_loginItem;
    FakeSystemLog m_log;
    FakeFatalErrorHooks m_fatalErrorHooks;
};

} // namespace ow
