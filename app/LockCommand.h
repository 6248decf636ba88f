#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace ow {

class InputAccessPermission;
class LockController;

// The one command that starts a lock. It first lets the engine find out what can take input
// over (the input guard may have to be started, which can take seconds: the window stays
// responsive, with the busy cursor, and a second command meanwhile is ignored), checks that
// input can be taken over at all, hides the main window for the length of the lock, and
// brings it back with an explanation when the lock cannot start.
class LockCommand final : public QObject {
    Q_OBJECT
public:
    // How a command ended.
    enum class Result {
        Locked,       // a lock runs (it may have run already)
        Ignored,      // an earlier command is still waiting; this one did nothing
        NotPermitted, // this session cannot be locked; the explanation was shown
        Refused,      // the lock could not start; the window is back and the alert was shown
    };
    // Told once, on the main thread, after any dialog was answered.
    using Completion = std::function<void(Result)>;

    // bringWindowBack shows the main window as the display mode shows it.
    LockCommand(LockController& controller, InputAccessPermission& permission,
                std::function<QWidget*()> mainWindow, std::function<void()> bringWindowBack);

    void lockPressed(Completion done = {});
    // Whether the main window was on screen when the last lock began.
    bool restoreWindowAfterUnlock() const { return m_restoreWindowAfterUnlock; }

private:
    Result lockNow();
    void explainThenAskPermission();
    void showKeyboardBusyAlert();

    LockController& m_controller;
    InputAccessPermission& m_permission;
    std::function<QWidget*()> m_mainWindow;
    std::function<void()> m_bringWindowBack;
    bool m_waiting = false;
    bool m_restoreWindowAfterUnlock = false;
};

} // namespace ow
