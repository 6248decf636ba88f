#pragma once

#include <QMenu>

#include <functional>

class QAction;

namespace ow {

// The tray icon's menu: lock, open, the waiting message, updates, report, quit. It knows
// nothing of what its items do; whoever builds it says.
class TrayMenu : public QMenu {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> lock;
        std::function<void()> open;
        std::function<void()> showMessages;
        std::function<void()> checkForUpdates;
        std::function<void()> reportProblem;
        std::function<void()> quit;
    };

    explicit TrayMenu(const Actions& actions, QWidget* parent = nullptr);

    // The messages item, with a red dot, shows only while a message waits unread.
    void setMessageWaiting(bool waiting);

private:
    QAction* m_messages;
};

} // namespace ow
