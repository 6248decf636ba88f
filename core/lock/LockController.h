#pragma once

#include "Clock.h"
#include "LockEngine.h"

#include <QList>
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>


namespace ow {

class CountdownLabel;
class CursorVisibility;
class DisplaySleepAssertion;
class FadingLabel;
class HoldBarView;
class LockWatchdog;
class LockWindow;
class Platform;
class ScreenList;
class UserDefaults;
class WindowBlitter;
class WindowStacking;

// Runs one lock at a time: starts the input lock engine, covers every screen, hides the
// cursor, keeps the display awake, and ends the lock when both Command keys (either Ctrl
// or either Super key of each side) are held for the hold duration, or when the safety
// timer runs out 15 minutes after the lock began, whatever the user does. A watchdog
// outside the process is armed with that deadline and fed heartbeats from the main loop,
// in case the process itself can no longer end the lock. An idle lock wakes once a second
// at most: the countdown's tick also has the engine reassert its blocking and feeds the
// watchdog. Where every overlay's digits go on screen as tiles, each tick has the seconds
// up to the tick after next put ahead of time, and ticks come every two seconds. An engine that runs the unlock keys itself drives the hold bars and may end
// the lock by itself. Every way out goes through the same ordered teardown and ends with
// one call of onUnlock.
class LockController : public QObject, private LockEngine::Observer {
    Q_OBJECT
public:
    // The services a lock uses; all of them outlive the controller.
    struct Services {
        Clock& clock;
        UserDefaults& defaults;
        CursorVisibility& cursor;
        DisplaySleepAssertion& sleep;
        ScreenList& screens;
        WindowStacking& stacking;
        WindowBlitter& blitter;
        LockWatchdog& watchdog;

        static Services of(Platform& platform);
    };

    static constexpr std::chrono::seconds kSafetyTimeout{900};
    static constexpr std::chrono::seconds kCountdownPeriod{1};
    // The tick's period while the countdown's seconds are put ahead; the watchdog, which
    // looks every 5 s, then still finds a beat at each look.
    static constexpr std::chrono::seconds kAheadTickPeriod{2};
    static constexpr std::chrono::nanoseconds kHoldTickPeriod{1'000'000'000 / 30};
    static constexpr quint64 kHoldKeyMask = 0x18;

    // safetyTimeout is shorter only in tests that need the deadline to pass quickly.
    LockController(std::unique_ptr<LockEngine> engine, Services services, QObject* parent = nullptr,
                   std::chrono::milliseconds safetyTimeout = kSafetyTimeout);
    ~LockController() override;

    bool isLocked() const { return m_isLocked; }
    const std::function<void()>& onUnlock() const { return m_onUnlock; }
    void setOnUnlock(std::function<void()> callback) { m_onUnlock = std::move(callback); }

    // Lets the engine find out, without blocking, what lock() needs (a service may have to
    // be asked, and started first); ready runs once on the main thread, perhaps before this
    // returns. lock() without it goes by what the engine found out last.
    void prepareLock(std::function<void()> ready);
    // True if the machine is now locked (also when it already was), false if the engine
    // refused to start; nothing has changed then.
    bool lock();
    // The same, for a lock that ends by itself after duration, or at the safety timeout if
    // that comes first. The countdown and the watchdog count towards the earlier end.
    bool lock(std::chrono::milliseconds duration);
    // Ends the lock if one is running.
    void unlock();

    // What the overlays show, one entry per screen in screen order; empty while unlocked.
    const QList<LockWindow*>& lockWindows() const { return m_lockWindows; }
    const QList<HoldBarView*>& holdBars() const { return m_holdBars; }
    const QList<FadingLabel*>& holdHints() const { return m_holdHints; }
    const QList<CountdownLabel*>& countdownLabels() const { return m_countdownLabels; }
    quint32 sleepAssertion() const { return m_sleepAssertion; }
    bool isHolding() const { return m_holdTimer != nullptr || m_engineHold > 0.0; }

private:
    void holdProgress(double fraction) override;
    void devicesRefused(const QStringList& names) override;
    void endedByItself() override;
    QString refusedDevicesWarning() const;
    void handleFlags(quint64 flags);
    void startHold();
    void cancelHold();
    void holdTick();
    void tick();
    void refreshCountdown();
    QString countdownText(qint64 remaining) const;
    bool putAhead(qint64 remaining, MonoTime now);
    void tickEvery(std::chrono::seconds period);
    void buildLockWindows();
    void rebuildLockWindows();
    void dropLockWindows();

    std::unique_ptr<LockEngine> m_engine;
    Services m_services;
    QList<LockWindow*> m_lockWindows;
    QList<HoldBarView*> m_holdBars;
    QList<FadingLabel*> m_holdHints;
    QList<CountdownLabel*> m_countdownLabels;
    std::optional<MonoTime> m_holdStart;
    std::unique_ptr<Timer> m_holdTimer;
    double m_engineHold = 0.0; // the progress last reported by an engine timing the hold itself
    QStringList m_refusedDevices;
    std::unique_ptr<Timer> m_safetyTimer;
    std::unique_ptr<Timer> m_countdownTimer;
    std::chrono::seconds m_tickPeriod{};
    // The fewest seconds left that every overlay has put ahead; none when nothing is.
    std::optional<qint64> m_aheadTo;
    std::chrono::milliseconds m_safetyTimeout;
    std::optional<MonoTime> m_safetyDeadline;
    std::optional<QMetaObject::Connection> m_screenObserver;
    quint32 m_sleepAssertion = 0;
    bool m_isLocked = false;
    std::function<void()> m_onUnlock;
};

} // namespace ow
