#include "LockCommand.h"

#include "Alert.h"
#include "BrandMark.h"
#include "InputAccessPermission.h"
#include "Localizer.h"
#include "LockController.h"

#include <QPixmap>
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
                         std::function<QWidget*()> mainWindow)
    : m_controller(controller)
    , m_permission(permission)
    , m_mainWindow(std::move(mainWindow))
{
}

void LockCommand::lockPressed()
{
    if (!m_permission.isTrusted()) {
        // No lock follows: once allowed, the user gives the command again.
        explainThenAskPermission();
        return;
    }
    QWidget* window = m_mainWindow();
    m_restoreWindowAfterUnlock = window && window->isVisible();
    if (window)
        window->hide();
    if (m_controller.lock())
        return;
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    showAccessibilityAlert();
}

void LockCommand::explainThenAskPermission()
{
    const QImage mark = orbinMark();
    const int answer = Alert::run(bringForward(m_mainWindow()), QMessageBox::Information,
                                  L("permission.explain_title"), L("permission.explain_message"),
                                  {L("permission.allow_button"), L("common.later")},
                                  mark.isNull() ? QPixmap() : QPixmap::fromImage(mark.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    if (answer != Alert::FirstButton)
        return;
    m_permission.prompt();
    m_permission.openSettings();
}

void LockCommand::showAccessibilityAlert()
{
    const int answer = Alert::run(bringForward(m_mainWindow()), QMessageBox::Warning, L("permission.needed_title"),
                                  L("permission.needed_message"),
                                  {L("permission.open_settings_button"), L("common.later")});
    if (answer == Alert::FirstButton)
        m_permission.openSettings();
}

} // namespace ow
