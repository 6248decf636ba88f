#pragma once

#include "LockController.h"
#include "LockEngine.h"
#include "ServiceClient.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace ow {

class HomeView;
class HttpClient;
class InputAccessPermission;
class LauncherBadge;
class LockCommand;
class MainMenu;
class MainWindow;
class MessagesWindow;
class ReportProblemDialog;
class TaskbarPresence;
class UpdateController;
class UserDefaults;

// The application's one long-lived object: it owns the lock controller, the update
// controller, the companion service client and the windows, runs the launch sequence,
// brings the window back when a lock ends or the application is opened again, checks in
// with the server every hour, and shows the support conversation.
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
        std::function<void()> installCrashReporter;
        // The companion service's addresses; empty means the built-in ones.
        QUrl checkInUrl = {};
        QUrl reportUrl = {};
    };

    static constexpr std::chrono::seconds kSyncInterval{3600};
    // Showing the window checks in again only if the last check-in is older than this.
    static constexpr std::chrono::seconds kSyncOnShowAfter{120};

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

    // The launcher badge, the home view's messages button and badge, and the menu's
    // messages item, from the conversation's state.
    void refreshMessageBadges();
    // Shows a pending message in a banner on the home view, unless a lock is running.
    void presentMessageBanner();
    void dismissMessageBanner();
    // Opens the messages window with the whole history; a pending message counts as read.
    void showMessages();
    // Sends what the messages window's reply field holds.
    void sendReply();
    void reportProblemPressed();
    // One check-in now; syncIfStale only if the last one began more than maxAge ago.
    void syncWithServer();
    void syncIfStale(std::chrono::seconds maxAge);

    LockController& controller() { return m_controller; }
    UpdateController& updater() { return *m_updater; }
    ServiceClient& serviceClient() { return m_service; }
    MainWindow* mainWindow() const;
    MainMenu* mainMenu() const;
    MessagesWindow* messagesWindow() const;
    ReportProblemDialog* reportDialog() const;
    bool restoreWindowAfterUnlock() const;

private:
    void buildMainWindow();
    void onUnlock();
    void showKeptOutOfTaskbar();
    void checkInFinished();
    void sendReport(const QString& typedText, const QString& email);
    HomeView* homeView() const;

    Services m_services;
    LockController m_controller;
    std::unique_ptr<UpdateController> m_updater;
    std::unique_ptr<LockCommand> m_lockCommand;
    ServiceClient m_service;
    std::optional<MonoTime> m_lastSyncAt; // none yet: any check-in is due
    std::unique_ptr<Timer> m_syncTimer;
    QPointer<MainWindow> m_mainWindow;
    QPointer<MainMenu> m_menu;
    QPointer<MessagesWindow> m_messagesWindow;
    QPointer<ReportProblemDialog> m_reportDialog;
};

} // namespace ow
