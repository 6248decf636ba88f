#pragma once

#include "LockController.h"
#include "LockEngine.h"
#include "LockRequest.h"
#include "ServiceClient.h"

#include <QDesktopServices>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace ow {

class CheckInSchedule;
class DisplayModeController;
class HttpClient;
class InputAccessPermission;
class LauncherBadge;
class LockCommand;
class LoginItem;
class MainMenu;
class MainWindow;
class Platform;
class StatusItemController;
class SupportConversation;
class SystemLog;
class TaskbarPresence;
class TrayMenu;
class UpdateController;
class UserDefaults;

// The application's one long-lived object: it owns the lock controller, the update
// controller, the companion service client, the tray icon and the main window, runs the
// launch sequence and the navigation between pages, and hands the rest to the display
// mode, the support conversation and the check-in schedule.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Services {
        UserDefaults& defaults;
        LockController::Services lock;
        InputAccessPermission& permission;
        TaskbarPresence& taskbar;
        LauncherBadge& launcher;
        HttpClient& http;
        LoginItem& loginItem;
        SystemLog& log;
        std::function<void()> installCrashReporter;
        // The companion service's addresses; empty means the built-in ones.
        QUrl checkInUrl = {};
        QUrl reportUrl = {};
        // Opens a web address in the user's browser.
        std::function<bool(const QUrl&)> openUrl = &QDesktopServices::openUrl;
        // Whether a tray host is running; tests stand in for the desktop.
        std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;

        // The platform's services; the caller sets how the crash reporter is installed.
        static Services of(Platform& platform);
    };

    AppDelegate(Services services, std::unique_ptr<LockEngine> engine, std::unique_ptr<UpdateController> updater);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // The launch of `orbinwash --lock`: the same, but the lock starts at once in place of
    // the window, and a first launch's question waits for an ordinary start, as does
    // everything that would go over the network before it is answered.
    void applicationDidFinishLaunchingToLock(const LockRequest& request, LockDone done);
    // The application was opened again; hasVisibleWindows tells whether any of its
    // windows is on screen, even covered or minimised. Always handled: the window comes
    // forward, except a hidden one in the tray while a tray host runs, whose icon is the
    // way back to it.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    // Where the application lives: see DisplayModeController.
    void showOnboardingIfNeeded();
    void applyDisplayMode();
    void toggleMenuBarMode(bool on);

    void showMainWindow();
    void lockPressed();
    // A lock asked for from outside the window: see LockCommand.
    void lockRequested(const LockRequest& request, LockDone done);
    void showSettings();
    void showMain();
    void closeOrBack();
    void quit();

    // The support conversation: see SupportConversation.
    void refreshMessageBadges();
    void presentMessageBanner();
    void dismissMessageBanner();
    void showMessages();
    void sendReply();
    void reportProblemPressed();
    // One check-in now; syncIfStale only if the last one began more than maxAge ago. See
    // CheckInSchedule.
    void syncWithServer();
    void syncIfStale(std::chrono::seconds maxAge);

private:
    // lockAtOnce: a lock to start in place of showing the window, and who hears of it.
    void launch(const LockRequest* lockAtOnce, LockDone done);
    void installCrashReporter();
    void buildMainWindow();
    // A fresh tray menu; the one built before may still be closing and goes later.
    TrayMenu* buildTrayMenu();
    void onUnlock();
    void checkInFinished();
    // The home view's hint and the settings pop-up follow the hold time in force.
    void showHoldDuration();

    Services m_services;
    LockController m_controller;
    std::unique_ptr<UpdateController> m_updater;
    ServiceClient m_service;
    StatusItemController* m_statusItem;
    DisplayModeController* m_displayMode;
    SupportConversation* m_conversation;
    CheckInSchedule* m_checkIns;
    std::unique_ptr<LockCommand> m_lockCommand;
    QPointer<MainWindow> m_mainWindow;
    QPointer<MainMenu> m_menu;
    QPointer<TrayMenu> m_trayMenu;
};

} // namespace ow
