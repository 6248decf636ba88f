#include "ShellFakes.h"

#include "Alert.h"
#include "FakePowerKeyInhibitor.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "TapLockEngine.h"

#include <QApplication>
#include <QMenu>

namespace ow::test {

AppDelegate::Services ShellFakes::services(HttpClient& http)
{
    return {.defaults = defaults,
            .lock = {clock, defaults, cursor, sleep, screens, stacking, watchdog},
            .permission = permission,
            .taskbar = taskbar,
            .launcher = launcher,
            .http = http,
            .loginItem = loginItem,
            .log = log,
            .installCrashReporter = {}};
}

std::unique_ptr<LockEngine> ShellFakes::lockEngine()
{
    auto fakeGrab = std::make_unique<FakeInputGrab>();
    grab = fakeGrab.get();
    return std::make_unique<TapLockEngine>(std::move(fakeGrab), std::make_unique<FakePowerKeyInhibitor>(), clock);
}

std::unique_ptr<UpdateController> ShellFakes::updates()
{
    return offlineUpdates(clock, feedRequests, dir.filePath(QStringLiteral("updates.ini")));
}

std::unique_ptr<UpdateController> ShellFakes::offlineUpdates(Clock& clock, HttpClient& http,
                                                             const QString& settingsPath)
{
    UpdateController::Setup setup;
    setup.settingsPath = settingsPath;
    setup.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/none.xml")); // the discard port: refused at once
    setup.openUrl = [](const QUrl&) { return true; };
    return std::make_unique<UpdateController>(clock, http, setup);
}

void ShellFakes::buildShell(HttpClient& http, bool tray, bool start, bool asked)
{
    QApplication::setQuitOnLastWindowClosed(false);
    delegate.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (asked) {
        defaults.setValue(QStringLiteral("OWOnboarded"), true);
        defaults.setValue(QStringLiteral("OWMenuBarMode"), tray);
    }
    AppDelegate::Services shell = services(http);
    shell.checkInUrl = checkInUrl;
    shell.reportUrl = reportUrl;
    shell.openUrl = [this](const QUrl& url) {
        opened.append(url);
        return true;
    };
    shell.trayAvailable = [this] { return trayHost; };
    shell.installCrashReporter = [this] { ++crashReporterInstalls; };
    delegate = std::make_unique<AppDelegate>(shell, lockEngine(), updates());
    if (!start)
        return;
    delegate->applicationDidFinishLaunching();
    settle();
}

void ShellFakes::settle()
{
    clock.runPosted();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

void ShellFakes::holdToUnlock()
{
    grab->report(0x100018);
    clock.runPosted();
    clock.advance(std::chrono::seconds(4));
    QApplication::processEvents();
}

void ShellFakes::tearDownShell()
{
    delegate.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Alert::reset();
}

bool ShellFakes::skipsTaskbar() const
{
    return taskbar.skipped.value(window()->winId());
}

QSystemTrayIcon* ShellFakes::trayIcon() const
{
    for (QSystemTrayIcon* tray : delegate->statusItem().findChildren<QSystemTrayIcon*>()) {
        if (tray->isVisible())
            return tray;
    }
    return nullptr;
}

QAction* ShellFakes::trayMenuItem(const char* key) const
{
    for (QAction* item : delegate->statusMenu()->actions()) {
        if (item->text() == L(key))
            return item;
    }
    return nullptr;
}

} // namespace ow::test
