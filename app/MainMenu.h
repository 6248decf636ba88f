#pragma once

#include <QMenuBar>

#include <functional>

class QAction;

namespace ow {

// The application's menu bar: the application menu (titled with its name), File and
// Edit. Ctrl is the shortcut modifier: Ctrl+Q quits, Ctrl+W closes or goes back, Ctrl+Z
// and Ctrl+Shift+Z undo and redo in the focused text field.
class MainMenu : public QMenuBar {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> checkForUpdates;
        std::function<void()> reportProblem;
        std::function<void()> showMessages;
        std::function<void()> closeOrBack;
        std::function<void()> quit;
    };

    explicit MainMenu(Actions actions, QWidget* parent = nullptr);

    // Shown while there is a support conversation.
    QAction* messagesAction() const { return m_messages; }

private:
    QAction* m_messages;
};

} // namespace ow
