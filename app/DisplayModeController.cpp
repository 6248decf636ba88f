#include "DisplayModeController.h"

#include "Alert.h"
#include "Clock.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "SettingsView.h"
#include "StatusItemController.h"
#include "TaskbarPresence.h"
#include "UserDefaults.h"

namespace ow {

namespace {
constexpr char kMenuBarMode[] = "OWMenuBarMode";
constexpr char kOnboarded[] = "OWOnboarded";
} // namespace

DisplayModeController::DisplayModeController(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
}

bool DisplayModeController::menuBarMode(const UserDefaults& defaults)
{
    return defaults.boolean(QLatin1String(kMenuBarMode));
}

bool DisplayModeController::menuBarMode() const
{
    return menuBarMode(m_services.defaults);
}

bool DisplayModeController::onboarded() const
{
    return m_services.defaults.boolean(QLatin1String(kOnboarded));
}

void DisplayModeController::setWindow(MainWindow* window)
{
    m_window = window;
}

void DisplayModeController::placeAtLaunch(bool withWindow)
{
    if (menuBarMode())
        m_services.trayIcon.enable(m_services.trayMenu());
    // Without a tray host the icon cannot be the way in: the window is, in the taskbar.
    if (m_window && withWindow && !keepsOutOfTaskbar())
        bringWindowForward();
}

void DisplayModeController::showOnboardingIfNeeded()
{
    if (onboarded())
        return;
    // Stored first: if the process ends during the question, it is not asked again.
    m_services.defaults.setValue(QLatin1String(kOnboarded), true);
    // A dialog of the window, which every desktop keeps over it and centres on it; on its
    // own, centred on the screen, only when the window is out of sight in the tray.
    QWidget* over = m_window && m_window->isVisible() ? m_window.data() : nullptr;
    m_asking = true;
    const int answer = Alert::run(over, QMessageBox::Question, L("onboarding.welcome_title"),
                                  L("onboarding.welcome_message"),
                                  {L("onboarding.dock_button"), L("onboarding.menubar_button")});
    m_asking = false;
    // Only the tray's own button chooses the tray; closing the question keeps the taskbar.
    const bool inTray = answer == Alert::SecondButton;
    m_services.defaults.setValue(QLatin1String(kMenuBarMode), inTray);
    if (SettingsView* settings = m_window ? m_window->madeSettingsView() : nullptr)
        settings->setMenuBarMode(inTray);
    apply();
}

void DisplayModeController::apply()
{
    const QPointer<DisplayModeController> self(this);
    if (menuBarMode()) {
        m_services.trayIcon.enable(m_services.trayMenu());
        // After the icon is up, so that the window does not come and go in the taskbar.
        // Where the desktop lists every window, the tray's window steps aside for the icon.
        m_services.clock.post([self] {
            if (!self || !self->m_window)
                return;
            if (self->keepsOutOfTaskbar() && !self->m_services.taskbar.canSkipTaskbar())
                self->m_window->hide();
            else
                self->bringWindowForward();
        });
        return;
    }
    m_services.trayIcon.disable();
    m_services.clock.post([self] {
        if (self)
            emit self->windowWanted();
    });
}

void DisplayModeController::setMenuBarMode(bool on)
{
    m_services.defaults.setValue(QLatin1String(kMenuBarMode), on);
    apply();
}

// Without a tray host there is no icon to come back through, so the taskbar keeps the
// window reachable even in tray mode.
bool DisplayModeController::keepsOutOfTaskbar() const
{
    return menuBarMode() && m_services.trayAvailable();
}

void DisplayModeController::bringWindowForward()
{
    // Raising a minimised window would leave it minimised.
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    // Told every time: a window that was out of the taskbar must come back into it.
    m_services.taskbar.setSkipTaskbar(m_window->winId(), keepsOutOfTaskbar());
    m_window->raise();
    m_window->activateWindow();
}

bool DisplayModeController::showsWindowOnReopen(bool hasVisibleWindows) const
{
    // A window on screen comes forward, also from under others or from the taskbar. A
    // hidden one in the tray stays hidden: the icon brings it, and without a tray host only
    // a new launch can.
    return hasVisibleWindows || !keepsOutOfTaskbar();
}

bool DisplayModeController::showsWindowAfterUnlock(bool wasOpen) const
{
    // In the taskbar the window always comes back; in the tray only if it was open.
    return !menuBarMode() || wasOpen;
}

} // namespace ow
