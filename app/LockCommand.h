#pragma once

#include <functional>

class QWidget;

namespace ow {

class InputAccessPermission;
class LockController;

// The one command that starts a lock. It checks first that input can be taken over at
// all (an X11 session), hides the main window for the length of the lock, and brings it
// back with an explanation when the lock cannot start.
class LockCommand {
public:
    LockCommand(LockController& controller, InputAccessPermission& permission,
                std::function<QWidget*()> mainWindow);

    void lockPressed();
    // Whether the main window was on screen when the last lock began.
    bool restoreWindowAfterUnlock() const { return m_restoreWindowAfterUnlock; }

private:
    void explainThenAskPermission();
    void showAccessibilityAlert();

    LockController& m_controller;
    InputAccessPermission& m_permission;
    std::function<QWidget*()> m_mainWindow;
    bool m_restoreWindowAfterUnlock = false;
};

} // namespace ow
