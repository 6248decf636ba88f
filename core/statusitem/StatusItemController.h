#pragma once

#include "Clock.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <chrono>
#include <functional>
#include <memory>

class QMenu;

namespace ow {

// The application's icon in the system tray, with an optional red dot. It shows whatever
// menu it is given and knows nothing of what that menu holds.
class StatusItemController : public QObject {
    Q_OBJECT
public:
    // How long, and how often, a missing tray host is looked for again after enable().
    static constexpr std::chrono::seconds kHostRetryInterval{2};
    static constexpr std::chrono::seconds kHostRetryPeriod{120};

    // trayAvailable is asked whether a tray host is running; tests stand in for the desktop.
    explicit StatusItemController(Clock& clock, QObject* parent = nullptr,
                                  std::function<bool()> trayAvailable =
                                      &QSystemTrayIcon::isSystemTrayAvailable);

    // Enabled: shown, or waiting for a tray host to show in.
    bool isEnabled() const { return m_enabled; }
    // Shows the tray icon with menu as its menu, at once or when a tray host starts within
    // kHostRetryPeriod; when already enabled, only the menu changes.
    void enable(QMenu* menu);
    void disable();
    // Remembered while disabled, shown from the next enable().
    void setBadge(bool on);

    // The 20 × 17 keyboard-and-padlock glyph, marked as a mask, light in a dark rim.
    static QIcon keyboardLockIcon();
    // The glyph, or with the badge a 23 × 17 icon that adds a red dot.
    static QIcon icon(bool badge);

private:
    void showTray();
    void awaitTrayHost();
    void retryShow();

    Clock& m_clock;
    const std::function<bool()> m_trayAvailable;
    bool m_enabled = false;
    QPointer<QMenu> m_menu;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_hasBadge = false;
    std::unique_ptr<Timer> m_hostRetry;
    int m_retriesLeft = 0;
};

} // namespace ow
