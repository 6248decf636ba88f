#include "GuardLockEngine.h"

#include "HoldDuration.h"
#include "LockController.h"
#include "SystemLog.h"

#include <QPointer>

#include <cmath>

namespace ow {

GuardLockEngine::GuardLockEngine(InputGuard& guard, const UserDefaults& defaults, SystemLog& log)
    : m_guard(guard)
    , m_defaults(defaults)
    , m_log(log)
{
}

// A guard still reporting finds the engine gone; its own timeout ends that lock.
GuardLockEngine::~GuardLockEngine() = default;

void GuardLockEngine::ask(std::function<void(InputGuard::Answer)> done)
{
    m_guard.ask([self = QPointer<GuardLockEngine>(this), done = std::move(done)](InputGuard::Answer answer) {
        if (self)
            done(answer);
    });
}

bool GuardLockEngine::start(FlagsHandler /*handler*/)
{
    if (m_running)
        return true;
    QPointer<GuardLockEngine> self(this);
    InputGuard::Events events{
        .progress = [self](double fraction) {
            if (self && self->m_observer)
                self->m_observer->holdProgress(fraction);
        },
        .refused = [self](const QStringList& names) {
            if (self && self->m_observer)
                self->m_observer->devicesRefused(names);
        },
        .released = [self](const QString& reason) {
            if (self)
                self->ended(reason);
        },
    };
    // The hold time in force now; the guard's timeout is the controller's, as a backstop
    // that counts suspended time too.
    const auto holdSeconds = unsigned(std::lround(holdDuration(m_defaults)));
    const auto timeoutSeconds = unsigned(LockController::kSafetyTimeout.count());
    m_running = m_guard.lock(holdSeconds, timeoutSeconds, std::move(events));
    return m_running;
}

void GuardLockEngine::ended(const QString& reason)
{
    if (!m_running)
        return; // a late report of a lock already over
    m_running = false;
    // The unlock keys and the timeout are how a lock is meant to end; anything else (the
    // session switched away, a device failing, the guard gone) is worth finding afterwards.
    if (reason != QLatin1String("chord") && reason != QLatin1String("timeout"))
        m_log.write(QStringLiteral("The input guard ended the lock: %1").arg(reason));
    if (m_observer)
        m_observer->endedByItself();
}

void GuardLockEngine::stop()
{
    if (m_running)
        m_guard.release();
    m_running = false;
}

} // namespace ow
