#include "LockCommand.h"

#include "Alert.h"
#include "InputAccessPermission.h"
#include "Localizer.h"
#include "LockController.h"
#include "VisualKit.h"

#include <QGuiApplication>
#include <QPixmapCache>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <malloc.h>
#include <utility>

namespace ow {

namespace {

// A lock may last minutes with the window hidden: the pixmaps that styles cached for it,
// and the heap's free pages, go back to the system. A moment into the lock, once the
// window has let go of its own buffer and the overlays have drawn their countdown's tiles,
// which takes some memory for a while.
constexpr int kSettledMs = 300;

void giveBackMemory()
{
    QTimer::singleShot(kSettledMs, [] {
        QPixmapCache::clear();
        malloc_trim(0);
    });
}

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

void LockCommand::lockPressed()
{
    lockRequested({}, [](LockOutcome) {});
}

void LockCommand::lockRequested(const LockRequest& request, LockDone done)
{
    if (m_controller.isLocked()) {
        done(LockOutcome::AlreadyLocked);
        return;
    }
    m_waiting.push_back(std::move(done));
    if (m_waiting.size() > 1)
        return;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    m_controller.prepareLock([self = QPointer<LockCommand>(this), request] {
        QGuiApplication::restoreOverrideCursor();
        if (self)
            self->lockNow(request);
    });
}

// The outcome goes out before the alerts, which are modal: whoever asked is waiting.
void LockCommand::lockNow(const LockRequest& request)
{
    const std::vector<LockDone> waiting = std::exchange(m_waiting, {});
    const auto tell = [&waiting](LockOutcome outcome) {
        for (const LockDone& done : waiting)
            done(outcome);
    };
    if (m_controller.isLocked()) {
        tell(LockOutcome::AlreadyLocked);
        return;
    }
    // The permission follows the engine's findings, so it is asked only now.
    if (!m_permission.isTrusted()) {
        // No lock follows: once allowed, the user gives the command again.
        tell(LockOutcome::NoInputAccess);
        explainThenAskPermission();
        return;
    }
    QWidget* window = m_mainWindow();
    m_restoreWindowAfterUnlock = window && window->isVisible();
    if (window)
        window->hide();
    if (m_controller.lock(request.duration.value_or(LockController::kSafetyTimeout))) {
        tell(LockOutcome::Locked);
        giveBackMemory();
        return;
    }
    if (window)
        m_bringWindowBack();
    tell(LockOutcome::InputBusy);
    showKeyboardBusyAlert();
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
