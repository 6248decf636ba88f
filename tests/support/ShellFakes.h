#pragma once

#include "AppDelegate.h"
#include "FakePlatform.h"
#include "MainWindow.h"
#include "UpdateController.h"

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace ow {
class SettingsView;
}

namespace ow::test {

// The application shell built in process on the fake platform.
struct ShellFakes : FakePlatform {
    // Builds `delegate` on these fakes, its update checks (`updater`) on the fake HTTP client,
    // on a desktop whose tray host runs while `trayHost` says so. `asked`: the first launch's
    // question was answered with `tray`; otherwise the store keeps what the test put there.
    // `start`: launched, and what the launch queued run.
    void buildShell(bool tray, bool start = true, bool asked = true);
    // Runs what was posted and what Qt queued.
    void settle();
    // Ends a running lock the way the user does: both Ctrl keys held for the hold time.
    void holdToUnlock();
    // Destroys the shell before the test's own members it uses.
    void tearDownShell();

    // The first top-level window of this type, as the user would find it on screen.
    template <typename Window>
    static Window* topLevel()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<Window*>(widget))
                return window;
        }
        return nullptr;
    }
    MainWindow* window() const { return topLevel<MainWindow>(); }
    SettingsView* settings() const;
    bool skipsTaskbar();
    // The tray icon on show, if any; a removed one may linger hidden until deleted.
    QSystemTrayIcon* trayIcon() const;
    // The tray menu's item with this catalogue key's text.
    QAction* trayMenuItem(const char* key) const;

    QTemporaryDir dir;
    UpdateController* updater = nullptr;
    bool trayHost = true;
    int crashReporterInstalls = 0;
    QList<QUrl> opened; // by the user's browser
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace ow::test
