#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace ow {

class LauncherBadge;
class LockController;
class MainMenu;
class MainWindow;
class MessagesWindow;
class ReportProblemDialog;
class ServiceClient;
class StatusItemController;
class TrayMenu;

// The support conversation as the user meets it: the badges that say a message waits, the
// banner that shows it on the home view, the messages window with the history and the
// reply field, and the problem report. Nothing of it opens during a lock.
class SupportConversation : public QObject {
    Q_OBJECT
public:
    struct Services {
        ServiceClient& service;
        const LockController& lock;
        LauncherBadge& launcher;
        StatusItemController& trayIcon;
    };

    SupportConversation(Services services, QObject* parent);
    ~SupportConversation() override;

    // The window and menu bar it shows in; the report dialog sits on the window.
    void showIn(MainWindow* window, MainMenu* menu);
    // The tray menu in use from now on.
    void setTrayMenu(TrayMenu* menu);

    // The launcher badge, the home view's messages button and badge, the menu's and the
    // tray menu's messages items and the tray icon's dot, from the conversation's state.
    void refreshBadges();
    // Shows a pending message in a banner on the home view, unless a lock is running.
    void presentBanner();
    void dismissBanner();
    // Opens the messages window with the whole history; a pending message counts as read.
    void showMessages();
    // Sends what the messages window's reply field holds.
    void sendReply();
    // Opens the report dialog, or raises the open one.
    void reportProblem();
    // A check-in's reply may have opened or closed the conversation or brought a message.
    void checkInFinished();

private:
    bool messageWaiting() const;
    void sendReport(const QString& typedText, const QString& email);

    Services m_services;
    QPointer<MainWindow> m_window;
    QPointer<MainMenu> m_menu;
    QPointer<TrayMenu> m_trayMenu;
    std::unique_ptr<MessagesWindow> m_messagesWindow;
    QPointer<ReportProblemDialog> m_reportDialog;
};

} // namespace ow
