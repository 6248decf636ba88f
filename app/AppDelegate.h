#pragma once

#include "LockController.h"
#include "LockEngine.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace ow {

class HomeView;
class InputAccessPermission;
class LockCommand;
class MainMenu;
class MainWindow;
class TaskbarPresence;
class UpdateController;
class UserDefaults;

// The application's one long-lived object: it owns the lock controller, the update
// controller and the main window, runs the launch sequence, and brings the window back
// when a lock ends or the application is opened again.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Services {
        UserDefaults& defaults;
        LockController::Services lock;
        InputAccessPermission& permission;
        TaskbarPresence& taskbar;
        std::function<void()> installCrashReporter;
    };

    AppDelegate(Services services, std::unique_ptr<LockEngine> engine, std::unique_ptr<UpdateController> updater);
    ~AppDelegate() override;

    // "OWMenuBarMode": true when the application lives in the system tray.
    static bool menuBarMode(const UserDefaults& defaults);

    void applicationDidFinishLaunching();
    // The application was opened again; hasVisibleWindows tells whether any of its
    // windows is on screen. Always handled.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    void showMainWindow();
    void lockPressed();
    void showSettings();
    void showMain();
    void closeOrBack();
    void quit();

    LockController& controller() { return m_controller; }
    UpdateController& updater() { return *m_updater; }
    MainWindow* mainWindow() const;
    MainMenu* mainMenu() const;
    bool restoreWindowAfterUnlock() const;

private:
    void buildMainWindow();
    void onUnlock();
    void showKeptOutOfTaskbar();

    Services m_services;
    LockController m_controller;
    std::unique_ptr<UpdateController> m_updater;
    std::unique_ptr<LockCommand> m_lockCommand;
    QPointer<MainWindow> m_mainWindow;
    QPointer<MainMenu> m_menu;
};

} // namespace ow
