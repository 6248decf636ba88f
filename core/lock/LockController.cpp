#include "LockController.h"

#include "CountdownLabel.h"
#include "CursorVisibility.h"
#include "Platform.h"
#include "DisplaySleepAssertion.h"
#include "FadingLabel.h"
#include "HoldBarView.h"
#include "HoldDuration.h"
#include "LockEngine.h"
#include "LockWatchdog.h"
#include "LockWindow.h"
#include "Localizer.h"
#include "ScreenList.h"
#include "WindowStacking.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace ow {

LockController::Services LockController::Services::of(Platform& platform)
{
    return {platform.clock(),   platform.defaults(), platform.cursor(),  platform.displaySleep(),
            platform.screens(), platform.stacking(), platform.blitter(), platform.watchdog()};
}

LockController::LockController(std::unique_ptr<LockEngine> engine, Services services, QObject* parent,
                               std::chrono::milliseconds safetyTimeout)
    : QObject(parent)
    , m_engine(std::move(engine))
    , m_services(services)
    , m_safetyTimeout(safetyTimeout)
{
    m_engine->setObserver(this);
}

// The application keeps its controller for its whole life; a discarded controller
// releases its fields only, and the closures it left behind find it gone.
LockController::~LockController()
{
    dropLockWindows();
}

void LockController::prepareLock(std::function<void()> ready)
{
    if (m_isLocked)
        ready();
    else
        m_engine->prepare(std::move(ready));
}

bool LockController::lock()
{
    return lock(m_safetyTimeout);
}

bool LockController::lock(std::chrono::milliseconds duration)
{
    if (m_isLocked)
        return true;
    const std::chrono::milliseconds endsAfter = std::min(duration, m_safetyTimeout);
    // Armed before anything that can block: the grab's retries, then the bus calls for the
    // power keys and the display, are all made with input possibly taken. The safety
    // deadline counts from the same moment, so the watchdog never ends a lock first.
    Clock& clock = m_services.clock;
    const MonoTime begun = clock.monotonicNow();
    m_services.watchdog.armed(endsAfter);
    const bool started = m_engine->start([self = QPointer<LockController>(this)](quint64 flags) {
        if (self)
            self->handleFlags(flags);
    });
    if (!started) {
        m_services.watchdog.disarmed();
        return false;
    }

    m_isLocked = true;
    buildLockWindows();
    m_services.cursor.hide();
    m_sleepAssertion = m_services.sleep.create(L("lock.power_assertion_reason"));

    QPointer<LockController> self(this);
    m_safetyDeadline = begun + endsAfter;
    m_safetyTimer = clock.schedule(*m_safetyDeadline - clock.monotonicNow(), false, [self] {
        if (self)
            self->unlock();
    });
    tickEvery(kCountdownPeriod);
    refreshCountdown();
    m_screenObserver = connect(&m_services.screens, &ScreenList::changed, this,
                               &LockController::rebuildLockWindows);
    return true;
}

void LockController::handleFlags(quint64 flags)
{
    // Whatever thread reports it, the change is handled on the main queue, after the
    // event that caused it; a report still queued when the lock ends is dropped.
    m_services.clock.post([self = QPointer<LockController>(this), flags] {
        if (!self || !self->m_isLocked)
            return;
        if ((flags & kHoldKeyMask) == kHoldKeyMask)
            self->startHold();
        else
            self->cancelHold();
    });
}

void LockController::holdProgress(double fraction)
{
    if (!m_isLocked)
        return;
    if (fraction <= 0.0) {
        cancelHold();
        return;
    }
    if (m_engineHold == 0.0) {
        for (FadingLabel* hint : std::as_const(m_holdHints))
            hint->fadeTo(1.0);
    }
    m_engineHold = fraction;
    for (HoldBarView* bar : std::as_const(m_holdBars))
        bar->setProgress(fraction);
}

void LockController::devicesRefused(const QStringList& names)
{
    if (!m_isLocked)
        return;
    for (const QString& name : names) {
        if (!m_refusedDevices.contains(name))
            m_refusedDevices.append(name);
    }
    const QString warning = refusedDevicesWarning();
    for (LockWindow* window : std::as_const(m_lockWindows))
        window->setWarning(warning);
}

QString LockController::refusedDevicesWarning() const
{
    if (m_refusedDevices.isEmpty())
        return {};
    return L("lock.devices_not_locked", m_refusedDevices.join(QStringLiteral(", ")));
}

void LockController::endedByItself()
{
    // Torn down from the main queue, not inside the engine's own report.
    m_services.clock.post([self = QPointer<LockController>(this)] {
        if (self)
            self->unlock();
    });
}

void LockController::startHold()
{
    if (m_holdTimer)
        return; // a repeated report of the same keys does not restart the hold
    m_holdStart = m_services.clock.monotonicNow();
    for (FadingLabel* hint : std::as_const(m_holdHints))
        hint->fadeTo(1.0);
    m_holdTimer = m_services.clock.schedule(kHoldTickPeriod, true, [self = QPointer<LockController>(this)] {
        if (self)
            self->holdTick();
    });
}

void LockController::holdTick()
{
    if (!m_holdStart)
        return;
    // From timestamps, not by counting ticks: a late tick does not lengthen the hold.
    const std::chrono::duration<double> elapsed = m_services.clock.monotonicNow() - *m_holdStart;
    const double progress = elapsed.count() / holdDuration(m_services.defaults);
    for (HoldBarView* bar : std::as_const(m_holdBars))
        bar->setProgress(progress);
    if (progress >= 1.0)
        unlock();
}

void LockController::cancelHold()
{
    m_holdTimer.reset();
    m_holdStart.reset();
    m_engineHold = 0.0;
    for (HoldBarView* bar : std::as_const(m_holdBars))
        bar->setProgress(0.0);
    for (FadingLabel* hint : std::as_const(m_holdHints))
        hint->fadeTo(0.0);
}

void LockController::tick()
{
    m_engine->reassert();
    refreshCountdown();
    // The watchdog waits 5 s for a beat: a main loop held up for a few seconds is not killed.
    m_services.watchdog.heartbeat();
}

void LockController::tickEvery(std::chrono::seconds period)
{
    if (period == m_tickPeriod)
        return;
    m_tickPeriod = period;
    m_countdownTimer = m_services.clock.schedule(period, true, [self = QPointer<LockController>(this)] {
        if (self)
            self->tick();
    });
}

QString LockController::countdownText(qint64 remaining) const
{
    return L("lock.auto_unlock_countdown", int(remaining / 60), int(remaining % 60));
}

void LockController::refreshCountdown()
{
    if (!m_safetyDeadline)
        return;
    const MonoTime now = m_services.clock.monotonicNow();
    const std::chrono::duration<double> left = *m_safetyDeadline - now;
    const qint64 remaining = std::max<qint64>(0, std::llround(left.count()));
    const QString text = countdownText(remaining);
    for (CountdownLabel* label : std::as_const(m_countdownLabels))
        label->setText(text);
    tickEvery(putAhead(remaining, now) ? kAheadTickPeriod : kCountdownPeriod);
}

bool LockController::putAhead(qint64 remaining, MonoTime now)
{
    const bool tiles = !m_countdownLabels.isEmpty()
        && std::all_of(m_countdownLabels.begin(), m_countdownLabels.end(),
                       [](const CountdownLabel* label) { return label->putsTiles(); });
    if (!tiles) {
        m_aheadTo.reset();
        return false;
    }
    // Each second shows from the moment that many seconds are left, up to the one after
    // the tick after next, which may come late.
    const qint64 last = std::max<qint64>(0, remaining - kAheadTickPeriod.count() - 1);
    for (qint64 left = std::min(remaining, m_aheadTo.value_or(remaining)) - 1; left >= last; --left) {
        const std::chrono::nanoseconds delay = *m_safetyDeadline - std::chrono::seconds(left) - now;
        const QString text = countdownText(left);
        const bool put = std::all_of(m_countdownLabels.begin(), m_countdownLabels.end(),
                                     [&](CountdownLabel* label) { return label->showAfter(text, delay); });
        if (!put) {
            // Not digits alone: shaped anew by the tick when it is due, with tiles drawn
            // now, a second or more ahead.
            for (CountdownLabel* label : std::as_const(m_countdownLabels))
                label->prepareTiles(text);
            return false;
        }
        m_aheadTo = left;
    }
    return true;
}

void LockController::buildLockWindows()
{
    const double holdSeconds = holdDuration(m_services.defaults);
    const QString warning = refusedDevicesWarning();
    QList<WId> ids;
    for (const QRect& screen : m_services.screens.screens()) {
        auto* window = new LockWindow(screen, holdSeconds);
        window->setWarning(warning);
        window->present();
        window->raise();
        m_lockWindows.append(window);
        m_holdBars.append(window->holdBar());
        m_holdHints.append(window->holdHint());
        CountdownLabel* countdown = window->countdownLabel();
        countdown->putDigitsThrough(&m_services.blitter);
        // New tiles can take the next seconds at once; dropped ones took them along.
        connect(countdown, &CountdownLabel::tilesChanged, this, [this] {
            m_aheadTo.reset();
            m_services.clock.post([self = QPointer<LockController>(this)] {
                if (self)
                    self->refreshCountdown();
            });
        });
        m_countdownLabels.append(countdown);
        ids.append(window->winId());
    }
    m_services.stacking.keepOnTop(ids);
}

void LockController::rebuildLockWindows()
{
    if (!m_isLocked)
        return;
    dropLockWindows();
    buildLockWindows();
    // The bars catch up at the next tick or report; the hints must not fade in again.
    if (isHolding()) {
        for (FadingLabel* hint : std::as_const(m_holdHints))
            hint->setAlpha(1.0);
    }
    refreshCountdown();
}

void LockController::dropLockWindows()
{
    m_aheadTo.reset();
    for (LockWindow* window : std::as_const(m_lockWindows)) {
        window->hide();
        window->deleteLater();
    }
    m_lockWindows.clear();
    m_holdBars.clear();
    m_holdHints.clear();
    m_countdownLabels.clear();
}

void LockController::unlock()
{
    if (!m_isLocked)
        return;
    m_isLocked = false;
    cancelHold();
    m_safetyTimer.reset();
    m_countdownTimer.reset();
    m_tickPeriod = {};
    m_services.watchdog.disarmed();
    m_safetyDeadline.reset();
    if (m_screenObserver) {
        disconnect(*m_screenObserver);
        m_screenObserver.reset();
    }
    m_engine->stop(); // input flows again from here on
    if (m_sleepAssertion != 0) {
        m_services.sleep.release(m_sleepAssertion);
        m_sleepAssertion = 0;
    }
    m_services.cursor.show();
    m_services.stacking.release();
    dropLockWindows();
    m_refusedDevices.clear();
    if (m_onUnlock)
        m_onUnlock();
}

} // namespace ow
