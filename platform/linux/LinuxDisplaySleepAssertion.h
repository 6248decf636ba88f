#pragma once

#include "DisplaySleepAssertion.h"

#include <QString>

#include <map>
#include <memory>

namespace ow {

class X11Connection;

// Asks the desktop's org.freedesktop.ScreenSaver service on the session bus not to blank
// the screen; where there is no such service, suspends the X screen saver for as long as
// our connection asks, or in a Wayland session, where X11 reaches no further than
// Xwayland, asks the desktop portal to inhibit idling. Global DPMS and screen-saver
// settings are never changed.
class LinuxDisplaySleepAssertion final : public DisplaySleepAssertion {
public:
    enum class Fallback { X11ScreenSaver, InhibitPortal };

    explicit LinuxDisplaySleepAssertion(Fallback fallback);
    ~LinuxDisplaySleepAssertion() override;

    quint32 create(const QString& reason) override;
    void release(quint32 id) override;

    // Input is already taken when a lock asks: together with the power-key inhibitor's
    // call a lock waits on the bus for well under a second.
    static constexpr int kCallTimeoutMs = 400;

    Fallback fallback() const { return m_fallback; }

private:
    struct Held {
        quint32 dbusCookie = 0;
        QString portalRequest; // set when the portal inhibits
        std::shared_ptr<X11Connection> x11; // set when the X screen saver is suspended
    };

    static bool inhibitOverDBus(const QString& reason, quint32* cookie);
    static std::shared_ptr<X11Connection> suspendXScreenSaver();
    static bool inhibitOverPortal(const QString& reason, QString* request);

    Fallback m_fallback;
    quint32 m_nextId = 1;
    std::map<quint32, Held> m_held;
};

} // namespace ow
