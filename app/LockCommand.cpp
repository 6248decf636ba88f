#include "LockCommand.h"

#include "Alert.h"
#include "InputAccessPermission.h"
#include "Localizer.h"
#include "LockController.h"
#include "VisualKit.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

namespace ow {

namespace {

// Brings the window forward before a dialog, so the dialog is not lost behind others.
QWidget* bringForward(QWidget* window)
{
    if (window && window->isVisible()) {
        window->raise();
        window->activateWindow();
        return window;
    }
    return nullptr;
}

} // namespace

LockCommand::LockCommand(LockController& controller, InputAccessPermission& permission,
                         std::function<QWidget*()> mainWindow, std::function<void()> bringWindowBack)
    : m_controller(controller)
    , m_permission(permission)
    , m_mainWindow(std::move(mainWindow))
    , m_bringWindowBack(std::move(bringWindowBack))
{
}

void LockCommand::lockPressed(Completion done)
{
    if (m_waiting) {
        if (done)
            done(Result::Ignored);
        return;
    }
    m_waiting = true;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    m_controller.prepareLock([self = QPointer<LockCommand>(this), done = std::move(done)] {
        QGuiApplication::restoreOverrideCursor();
        if (!self)
            return;
        self->m_waiting = false;
        const Result result = self->lockNow();
        if (done)
            done(result);
    });
}

LockCommand::Result LockCommand::lockNow()
{
    if (m_controller.isLocked())
        return Result::Locked; // given from outside: the window stays as the lock found it
    // The permission follows the engine's findings, so it is asked only now.
    if (!m_permission.isTrusted()) {
        // No lock follows: once allowed, the user gives the command again.
        explainThenAskPermission();
        return Result::NotPermitted;
    }
    QWidget* window = m_mainWindow();
    m_restoreWindowAfterUnlock = window && window->isVisible();
    if (window)
        window->hide();
    if (m_controller.lock())
        return Result::Locked;
    if (window)
        m_bringWindowBack();
    showKeyboardBusyAlert();
    return Result::Refused;
}

void LockCommand::explainThenAskPermission()
{
    const int answer = Alert::run(bringForward(m_mainWindow()), QMessageBox::Information,
                                  L("permission.explain_title"), L("permission.explain_message"),
                                  {L("permission.allow_button"), L("common.later")},
                                  orbinMarkPixmap(64));
    if (answer != Alert::FirstButton)
        return;
    m_permission.prompt();
    m_permission.openSettings();
}

// The session allows the grab, so a refusal means another program holds the keyboard or
// pointer (an open menu, a screen locker, a virtual machine's window): closing it helps,
// logging out would not.
void LockCommand::showKeyboardBusyAlert()
{
    Alert::run(bringForward(m_mainWindow()), QMessageBox::Warning, L("lock.keyboard_busy_title"),
               L("lock.keyboard_busy_message"), {L("common.ok")});
}

} // namespace ow
