#include "ShellFakes.h"

#include "Alert.h"
#include "Localizer.h"
#include "TapLockEngine.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

namespace ow::test {

void ShellFakes::buildShell(bool tray, bool start, bool asked)
{
    QApplication::setQuitOnLastWindowClosed(false);
    delegate.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (asked) {
        defaults().setValue(QStringLiteral("OWOnboarded"), true);
        defaults().setValue(QStringLiteral("OWMenuBarMode"), tray);
    }
    AppDelegate::Services shell = AppDelegate::Services::of(*this);
    shell.openUrl = [this](const QUrl& url) {
        opened.append(url);
        return true;
    };
    shell.trayAvailable = [this] { return trayHost; };
    shell.installCrashReporter = [this] { ++crashReporterInstalls; };
    UpdateController::Setup setup;
    setup.settingsPath = dir.filePath(QStringLiteral("updates.ini"));
    setup.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/none.xml")); // only ever asked of the fake client
    setup.openUrl = [](const QUrl&) { return true; };
    auto updates = std::make_unique<UpdateController>(clock(), http(), setup);
    updater = updates.get();
    delegate = std::make_unique<AppDelegate>(shell, std::make_unique<TapLockEngine>(*this), std::move(updates));
    if (!start)
        return;
    delegate->applicationDidFinishLaunching();
    settle();
}

void ShellFakes::settle()
{
    clock().runPosted();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

void ShellFakes::holdToUnlock()
{
    grab->report(0x100018);
    clock().runPosted();
    clock().advance(std::chrono::seconds(4));
    QApplication::processEvents();
}

void ShellFakes::tearDownShell()
{
    delegate.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Alert::reset();
}

SettingsView* ShellFakes::settings() const
{
    return window()->settingsView();
}

bool ShellFakes::skipsTaskbar()
{
    return taskbar().skipped.value(window()->winId());
}

QSystemTrayIcon* ShellFakes::trayIcon() const
{
    for (QSystemTrayIcon* tray : delegate->findChildren<QSystemTrayIcon*>()) {
        if (tray->isVisible())
            return tray;
    }
    return nullptr;
}

QAction* ShellFakes::trayMenuItem(const char* key) const
{
    for (QAction* item : trayIcon()->contextMenu()->actions()) {
        if (item->text() == L(key))
            return item;
    }
    return nullptr;
}

} // namespace ow::test
