#pragma once

#include "LockController.h"
#include "LockEngine.h"
#include "ServiceClient.h"
#include "StatusItemController.h"

#include <QDesktopServices>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;

namespace ow {

class HomeView;
class HttpClient;
class InputAccessPermission;
class LauncherBadge;
class LockCommand;
class LoginItem;
class MainMenu;
class MainWindow;
class MessagesWindow;
class ReportProblemDialog;
class SettingsView;
class SystemLog;
class TaskbarPresence;
class UpdateController;
class UserDefaults;

// The application's one long-lived object: it owns the lock controller, the update
// controller, the companion service client, the tray icon and the windows, runs the
// launch sequence (asking once where the application should live), brings the window back
// when a lock ends or the application is opened again, checks in with the server every
// hour, and shows the support conversation.
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
    // windows is on screen, even covered or minimised. Always handled: the window comes
    // forward, except a hidden one in the tray while a tray host runs, whose icon is the
    // way back to it.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    // The first launch asks once whether to live in the taskbar or in the tray.
    void showOnboardingIfNeeded();
    // Puts the application where "OWMenuBarMode" says and, soon after, shows the window.
    void applyDisplayMode();
    void toggleMenuBarMode(bool on);
    // A fresh tray menu: lock, open, the pending message, updates, report, quit. The
    // delegate keeps it, and lets the one built before go.
    QMenu* buildStatusMenu();
    // The tray menu is about to open: its contents are brought up to date.
    void menuWillOpen();

    void showMainWindow();
    void lockPressed();
    void showSettings();
    void showMain();
    void closeOrBack();
    void quit();

    // The launcher badge, the home view's messages button and badge, the menu's and the
    // tray menu's messages items and the tray icon's dot, from the conversation's state.
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
    StatusItemController& statusItem() { return m_statusItem; }
    MainWindow* mainWindow() const;
    MainMenu* mainMenu() const;
    SettingsView* settingsView() const;
    // The menu the tray icon shows, the last one built.
    QMenu* statusMenu() const;
    MessagesWindow* messagesWindow() const;
    ReportProblemDialog* reportDialog() const;
    bool restoreWindowAfterUnlock() const;

private:
    void installCrashReporter();
    // Whether the first launch's question was ever shown; see also m_askingDisplayMode.
    bool onboarded() const;
    void buildMainWindow();
    void onUnlock();
    // Shows the window as the display mode shows it, un-minimised, raised and active.
    void bringWindowForward();
    void showKeptOutOfTaskbar();
    bool keepsOutOfTaskbar() const;
    void checkInFinished();
    // The home view's hint and the settings pop-up follow the hold time in force.
    void showHoldDuration();
    void sendReport(const QString& typedText, const QString& email);
    HomeView* homeView() const;

    Services m_services;
    LockController m_controller;
    std::unique_ptr<UpdateController> m_updater;
    std::unique_ptr<LockCommand> m_lockCommand;
    ServiceClient m_service;
    StatusItemController m_statusItem;
    std::optional<MonoTime> m_lastSyncAt; // none yet: any check-in is due
    // The first launch's question is on screen, unanswered.
    bool m_askingDisplayMode = false;
    std::unique_ptr<Timer> m_syncTimer;
    QPointer<MainWindow> m_mainWindow;
    QPointer<MainMenu> m_menu;
    QPointer<QMenu> m_statusMenu;
    QPointer<QAction> m_statusMessagesItem;
    QPointer<MessagesWindow> m_messagesWindow;
    QPointer<ReportProblemDialog> m_reportDialog;
};

} // namespace ow
