#include "TapLockEngine.h"

#include "Clock.h"
#include "InputGrab.h"
#include "Localizer.h"
#include "Platform.h"
#include "PowerKeyInhibitor.h"

#include <QPointer>

namespace ow {

TapLockEngine::TapLockEngine(std::unique_ptr<InputGrab> grab, std::unique_ptr<PowerKeyInhibitor> powerKeys,
                             Clock& clock)
    : m_grab(std::move(grab))
    , m_powerKeys(std::move(powerKeys))
    , m_clock(clock)
{
}

TapLockEngine::TapLockEngine(Platform& platform)
    : TapLockEngine(platform.makeInputGrab(), platform.makePowerKeyInhibitor(), platform.clock())
{
}

TapLockEngine::~TapLockEngine() = default;

bool TapLockEngine::start(FlagsHandler handler)
{
    m_handler = std::move(handler);
    if (m_running)
        return true;
    // A refused grab leaves the handler stored and nothing else changed.
    if (!m_grab->grab([this](quint64 flags) { handleFlags(flags); }))
        return false;
    // Only once input is ours; without it the lock goes on, the power keys unheld.
    m_powerKeys->acquire(L("lock.power_keys_reason"));
    m_running = true;
    m_presentationOptions = PresentationOptions::HideDockAndMenuBar;
    return true;
}

void TapLockEngine::handleFlags(quint64 flags)
{
    // The handler runs later on the main queue; a report still queued when the engine
    // stops finds the handler cleared and is dropped.
    m_clock.post([self = QPointer<TapLockEngine>(this), flags] {
        if (self && self->m_handler)
            self->m_handler(flags);
    });
}

void TapLockEngine::reassert()
{
    m_grab->reassert();
}

void TapLockEngine::stop()
{
    if (m_running) {
        m_powerKeys->release();
        m_grab->release();
    }
    m_running = false;
    m_handler = nullptr;
    m_presentationOptions = PresentationOptions::None;
}

} // namespace ow
