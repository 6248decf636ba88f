#include "GuardLockEngine.h"

#include "HoldDuration.h"
#include "InputGuard.h"
#include "LockController.h"

#include <QPointer>

#include <cmath>

namespace ow {

GuardLockEngine::GuardLockEngine(InputGuard& guard, const UserDefaults& defaults)
    : m_guard(guard)
    , m_defaults(defaults)
{
}

// A guard still reporting finds the engine gone; its own timeout ends that lock.
GuardLockEngine::~GuardLockEngine() = default;

bool GuardLockEngine::isAvailable()
{
    m_guard.refresh();
    return m_guard.canLock();
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
        .released = [self](const QString& /*reason*/) {
            if (!self)
                return;
            self->m_running = false;
            if (self->m_observer)
                self->m_observer->endedByItself();
        },
    };
    // The hold time in force now; the guard's timeout is the controller's, as a backstop
    // that counts suspended time too.
    const auto holdSeconds = unsigned(std::lround(holdDuration(m_defaults)));
    const auto timeoutSeconds = unsigned(LockController::kSafetyTimeout.count());
    m_running = m_guard.lock(holdSeconds, timeoutSeconds, std::move(events));
    return m_running;
}

void GuardLockEngine::stop()
{
    if (m_running)
        m_guard.release();
    m_running = false;
}

} // namespace ow
