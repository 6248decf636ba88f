#pragma once

#include "DBusInputGuard.h"
#include "DBusLauncherBadge.h"
#include "FileUserDefaults.h"
#include "LinuxInputAccessPermission.h"
#include "PosixFatalErrorHooks.h"
#include "Platform.h"
#include "ProcessHttpClient.h"
#include "ProcessLockWatchdog.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "SessionKind.h"
#include "SyslogSystemLog.h"
#include "WindowServices.h"
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
        // The helper that runs each web request; none answers every request as failed.
        QString fetchHelper = {};
        // Sent with every GET, so that the update server can tell versions apart.
        QByteArray userAgent = {};
        // Chooses the window services; ask once the application object exists.
        SessionKind session = SessionKind::current();
    };

    explicit LinuxPlatform(Options options);

    Clock& clock() override { return m_clock; }
    UserDefaults& defaults() override { return m_defaults; }
    CursorVisibility& cursor() override { return m_window.cursor(); }
    DisplaySleepAssertion& displaySleep() override { return m_window.displaySleep(); }
    ScreenList& screens() override { return m_screens; }
    WindowStacking& stacking() override { return m_window.stacking(); }
    WindowBlitter& blitter() override { return m_window.blitter(); }
    LockWatchdog& watchdog() override { return m_watchdog; }
    InputGuard& inputGuard() override { return m_guard; }
    InputAccessPermission& permission() override { return m_permission; }
    TaskbarPresence& taskbar() override { return m_window.taskbar(); }
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
    WindowServices m_window;
    QtScreenList m_screens;
    ProcessLockWatchdog m_watchdog;
    DBusInputGuard m_guard;
    LinuxInputAccessPermission m_permission;
    DBusLauncherBadge m_launcher;
    ProcessHttpClient m_http;
    XdgAutostartLoginItem m_loginItem;
    SyslogSystemLog m_log;
    PosixFatalErrorHooks m_fatalErrorHooks;
};

} // namespace ow
