#pragma once

#include "LockRequest.h"

#include <QObject>

#include <functional>
#include <vector>

class QWidget;

namespace ow {

class InputAccessPermission;
class LockController;

// The one command that starts a lock. It first lets the engine find out what can take input
// over (the input guard may have to be started, which can take seconds: the window stays
// responsive, with the busy cursor), checks that input can be taken over at all, hides the
// main window for the length of the lock, and brings it back with an explanation when the
// lock cannot start.
class LockCommand final : public QObject {
    Q_OBJECT
public:
    // bringWindowBack shows the main window as the display mode shows it.
    LockCommand(LockController& controller, InputAccessPermission& permission,
                std::function<QWidget*()> mainWindow, std::function<void()> bringWindowBack);

    void lockPressed();
    // The same for a request from outside the window. done is told once, on the main thread
    // and before any alert, that the lock holds or why not; a request while locked changes
    // nothing, and one that comes while an earlier one waits for the engine shares its outcome.
    void lockRequested(const LockRequest& request, LockDone done);
    // Whether the main window was on screen when the last lock began.
    bool restoreWindowAfterUnlock() const { return m_restoreWindowAfterUnlock; }

private:
    void lockNow(const LockRequest& request);
    void explainThenAskPermission();
    void showKeyboardBusyAlert();

    LockController& m_controller;
    InputAccessPermission& m_permission;
    std::function<QWidget*()> m_mainWindow;
    std::function<void()> m_bringWindowBack;
    std::vector<LockDone> m_waiting;
    bool m_restoreWindowAfterUnlock = false;
};

} // namespace ow
