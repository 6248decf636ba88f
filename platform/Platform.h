#pragma once

#include <memory>

namespace ow {

class Clock;
class CursorVisibility;
class DisplaySleepAssertion;
class FatalErrorHooks;
class HttpClient;
class InputAccessPermission;
class InputGrab;
class InputGuard;
class LauncherBadge;
class LockWatchdog;
class LoginItem;
class PowerKeyInhibitor;
class ScreenList;
class SystemLog;
class TaskbarPresence;
class UserDefaults;
class WindowBlitter;
class WindowStacking;

// Every platform service the application uses, built once. The real set is LinuxPlatform,
// the test set FakePlatform; a test or benchmark that wants one service of its own among
// the real ones overrides that one accessor of LinuxPlatform.
class Platform {
public:
    virtual ~Platform() = default;

    virtual Clock& clock() = 0;
    virtual UserDefaults& defaults() = 0;
    virtual CursorVisibility& cursor() = 0;
    virtual DisplaySleepAssertion& displaySleep() = 0;
    virtual ScreenList& screens() = 0;
    virtual WindowStacking& stacking() = 0;
    virtual WindowBlitter& blitter() = 0;
    virtual LockWatchdog& watchdog() = 0;
    // One guard for the process: the permission asks it, the lock engine locks through it.
    virtual InputGuard& inputGuard() = 0;
    virtual InputAccessPermission& permission() = 0;
    virtual TaskbarPresence& taskbar() = 0;
    virtual LauncherBadge& launcher() = 0;
    virtual HttpClient& http() = 0;
    virtual LoginItem& loginItem() = 0;
    virtual SystemLog& log() = 0;
    virtual FatalErrorHooks& fatalErrorHooks() = 0;
    // The lock engine owns these for its lifetime, so each lock engine gets its own.
    virtual std::unique_ptr<InputGrab> makeInputGrab() = 0;
    virtual std::unique_ptr<PowerKeyInhibitor> makePowerKeyInhibitor() = 0;
};

} // namespace ow
