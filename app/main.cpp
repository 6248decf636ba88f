#include "AppDelegate.h"
#include "ClientInfo.h"
#include "CrashReporter.h"
#include "DBusLauncherBadge.h"
#include "FileUserDefaults.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LogindPowerKeyInhibitor.h"
#include "ProcessLockWatchdog.h"
#include "QtClock.h"
#include "QtHttpClient.h"
#include "QtScreenList.h"
#include "SingleInstance.h"
#include "SyslogSystemLog.h"
#include "TapLockEngine.h"
#include "UpdateController.h"
#include "X11CursorVisibility.h"
#include "X11InputAccessPermission.h"
#include "X11InputGrab.h"
#include "X11TaskbarPresence.h"
#include "X11WindowStacking.h"
#include "XdgAutostartLoginItem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace {

// The help page ships inside the program; a browser needs it as a file.
QUrl x11HelpPage()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/OrbinWash");
    const QString path = folder + QStringLiteral("/x11-session.html");
    QDir().mkpath(folder);
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(":/help/x11-session.html"), path))
        return {};
    return QUrl::fromLocalFile(path);
}

// Beside the binary in a build tree; the packaged helper lives in libexec, found from
// the binary's own folder.
QString watchdogHelper()
{
    const QString beside = ow::ProcessLockWatchdog::besideApplication();
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                           + QStringLiteral(OW_INSTALLED_WATCHDOG));
}

bool hasVisibleWindows()
{
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrbinWash"));
    QApplication::setApplicationDisplayName(QStringLiteral("OrbinWash"));
    QApplication::setDesktopFileName(QStringLiteral("orbinwash"));
    // Closing the main window never quits: only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    ow::SingleInstance instance(ow::SingleInstance::defaultName(), ow::SingleInstance::defaultFolder());
    if (!instance.claim()) {
        instance.notifyRunning();
        return 0;
    }

    ow::QtClock clock;
    ow::FileUserDefaults defaults(ow::FileUserDefaults::defaultPath());
    ow::X11CursorVisibility cursor;
    ow::LinuxDisplaySleepAssertion sleep;
    ow::QtScreenList screens;
    ow::X11WindowStacking stacking;
    ow::ProcessLockWatchdog watchdog(watchdogHelper(), ow::CrashReporter::defaultPendingPath());
    ow::X11InputAccessPermission permission(x11HelpPage);
    ow::X11TaskbarPresence taskbar;
    ow::DBusLauncherBadge launcher;
    ow::QtHttpClient http(QStringLiteral("OrbinWash/%1").arg(ow::appVersion()).toUtf8());
    ow::XdgAutostartLoginItem loginItem;
    ow::SyslogSystemLog log;
    ow::AppDelegate delegate({.defaults = defaults,
                              .lock = {clock, defaults, cursor, sleep, screens, stacking, watchdog},
                              .permission = permission,
                              .taskbar = taskbar,
                              .launcher = launcher,
                              .http = http,
                              .loginItem = loginItem,
                              .log = log,
                              .installCrashReporter =
                                  [&defaults, &http] { ow::CrashReporter::install(defaults, http); }},
                             std::make_unique<ow::TapLockEngine>(std::make_unique<ow::X11InputGrab>(),
                                                                 std::make_unique<ow::LogindPowerKeyInhibitor>(), clock),
                             std::make_unique<ow::UpdateController>(clock, http));
    QObject::connect(&instance, &ow::SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(hasVisibleWindows()); });
    QTimer::singleShot(0, &delegate, &ow::AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
