#pragma once

#include "LockRequest.h"

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
    // bringWindowBack shows the main window as the display mode shows it.
    LockCommand(LockController& controller, InputAccessPermission& permission,
                std::function<QWidget*()> mainWindow, std::function<void()> bringWindowBack);

    void lockPressed();
    // The same for a request from outside the window. done is told, before any alert, that
    // the lock holds or why not; a request while locked changes nothing.
    void lockRequested(const LockRequest& request, LockDone done);
    // Whether the main window was on screen when the last lock began.
    bool restoreWindowAfterUnlock() const { return m_restoreWindowAfterUnlock; }

private:
    void explainThenAskPermission();
    void showKeyboardBusyAlert();

    LockController& m_controller;
    InputAccessPermission& m_permission;
    std::function<QWidget*()> m_mainWindow;
    std::function<void()> m_bringWindowBack;
    bool m_restoreWindowAfterUnlock = false;
};

} // namespace ow
