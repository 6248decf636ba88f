#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QMenu;

namespace ow {

class Clock;
class MainWindow;
class StatusItemController;
class TaskbarPresence;
class UserDefaults;

// Where the application lives, in the taskbar or in the tray: the first launch asks once,
// and from then on the window and the tray icon go where "OWMenuBarMode" says. It also
// decides when the window comes back, and brings it forward.
class DisplayModeController : public QObject {
    Q_OBJECT
public:
    struct Services {
        UserDefaults& defaults;
        TaskbarPresence& taskbar;
        Clock& clock;
        StatusItemController& trayIcon;
        // Whether a tray host is running.
        std::function<bool()> trayAvailable;
        // A fresh menu each time the tray icon goes up.
        std::function<QMenu*()> trayMenu;
    };

    DisplayModeController(Services services, QObject* parent);

    // "OWMenuBarMode": true when the application lives in the tray.
    static bool menuBarMode(const UserDefaults& defaults);
    // Whether the first launch's question was ever shown.
    bool onboarded() const;
    // The first launch's question is on screen, unanswered.
    bool isAsking() const { return m_asking; }

    void setWindow(MainWindow* window);
    // At launch: the tray icon in the tray, else the window (unless withWindow is false),
    // which the tray keeps hidden while a tray host runs.
    void placeAtLaunch(bool withWindow = true);
    // The first launch asks once whether to live in the taskbar or in the tray.
    void showOnboardingIfNeeded();
    // Puts the application where "OWMenuBarMode" says and, soon after, shows the window.
    void apply();
    void setMenuBarMode(bool on);
    // Shows the window as the mode shows it, un-minimised, raised and active.
    void bringWindowForward();

    // The application was opened again; hasVisibleWindows: any of its windows is on screen,
    // even covered or minimised.
    bool showsWindowOnReopen(bool hasVisibleWindows) const;
    // A lock ended; wasOpen: the window was on screen when it began.
    bool showsWindowAfterUnlock(bool wasOpen) const;

signals:
    // The window should show, with all that showing it brings.
    void windowWanted();

private:
    bool menuBarMode() const;
    bool keepsOutOfTaskbar() const;

    Services m_services;
    QPointer<MainWindow> m_window;
    bool m_asking = false;
};

} // namespace ow
