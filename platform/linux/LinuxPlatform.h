#pragma once

#include "DBusInputGuard.h"
#include "DBusLauncherBadge.h"
#include "FileUserDefaults.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LinuxInputAccessPermission.h"
#include "PosixFatalErrorHooks.h"
#include "Platform.h"
#include "ProcessLockWatchdog.h"
#include "QtClock.h"
#include "QtHttpClient.h"
#include "QtScreenList.h"
#include "SyslogSystemLog.h"
#include "X11CursorVisibility.h"
#include "X11TaskbarPresence.h"
#include "X11WindowStacking.h"
#include "XdgAutostartLoginItem.h"

#include <QUrl>

#include <functional>

namespace ow {

// The real services of a Linux desktop session.
class LinuxPlatform : public Platform {
public:
    struct Options {
        QString defaultsPath = FileUserDefaults::defaultPath();
        // The watchdog helper, and where it leaves its record when it ends a lock.
        QString watchdogHelper = {};
        QString watchdogRecord = {};
        // Opened when input cannot be taken over; none leaves the browser closed.
        std::function<QUrl()> helpPage = [] { return QUrl(); };
        // Sent with every GET, so that the update server can tell versions apart.
        QByteArray userAgent = {};
    };

    explicit LinuxPlatform(Options options);

    Clock& clock() override { return m_clock; }
    UserDefaults& defaults() override { return m_defaults; }
    CursorVisibility& cursor() override { return m_cursor; }
    DisplaySleepAssertion& displaySleep() override { return m_sleep; }
    ScreenList& screens() override { return m_screens; }
    WindowStacking& stacking() override { return m_stacking; }
    LockWatchdog& watchdog() override { return m_watchdog; }
    InputGuard& inputGuard() override { return m_guard; }
    InputAccessPermission& permission() override { return m_permission; }
    TaskbarPresence& taskbar() override { return m_taskbar; }
    LauncherBadge& launcher() override { return m_launcher; }
    HttpClient& http() override { return m_http; }
    LoginItem& loginItem() override { return m_loginItem; }
    SystemLog& log() override { return m_log; }
    FatalErrorHooks& fatalErrorHooks() override { return m_fatalErrorHooks; }
    std::unique_ptr<InputGrab> makeInputGrab() override;
    std::unique_ptr<PowerKeyInhibitor> makePowerKeyInhibitor() override;

private:
    QtClock m_clock;
    FileUserDefaults m_defaults;
    X11CursorVisibility m_cursor;
    LinuxDisplaySleepAssertion m_sleep;
    QtScreenList m_screens;
    X11WindowStacking m_stacking;
    ProcessLockWatchdog m_watchdog;
    DBusInputGuard m_guard;
    LinuxInputAccessPermission m_permission;
    X11TaskbarPresence m_taskbar;
    DBusLauncherBadge m_launcher;
    QtHttpClient m_http;
    XdgAutostartLoginItem m_loginItem;
    SyslogSystemLog m_log;
    PosixFatalErrorHooks m_fatalErrorHooks;
};

} // namespace ow
