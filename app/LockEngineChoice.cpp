#include "LockEngineChoice.h"

#include "GuardLockEngine.h"
#include "Platform.h"
#include "TapLockEngine.h"
#include "SessionKind.h"

namespace ow {

LockEngineChoice::LockEngineChoice(std::unique_ptr<GuardLockEngine> guard, std::unique_ptr<LockEngine> x11Grab,
                                   std::function<bool()> x11Reachable)
    : m_guard(std::move(guard))
    , m_x11Grab(std::move(x11Grab))
    , m_x11Reachable(std::move(x11Reachable))
{
}

LockEngineChoice::LockEngineChoice(Platform& platform, std::function<bool()> x11Reachable)
    : LockEngineChoice(std::make_unique<GuardLockEngine>(platform.inputGuard(), platform.defaults(), platform.log()),
                       std::make_unique<TapLockEngine>(platform), std::move(x11Reachable))
{
}

LockEngineChoice::~LockEngineChoice() = default;

void LockEngineChoice::prepare(std::function<void()> ready)
{
    // The guard engine is ours: while it exists, so do we.
    m_guard->ask([this, ready = std::move(ready)](InputGuard::Answer answer) {
        m_answer = answer;
        ready();
    });
}

bool LockEngineChoice::start(FlagsHandler handler)
{
    using Answer = InputGuard::Answer;
    if (m_running)
        return m_running->start(std::move(handler));
    // A guard that said yes and then fails (another lock of it runs) leaves the X11 grab. One
    // installed that did not answer in time does not: the grab would let virtual-terminal
    // switching and SysRq through where the guard was put to hold them, and by the user's next
    // try the guard has started.
    if (m_answer == Answer::Yes && m_guard->start(handler))
        m_running = m_guard.get();
    else if (m_answer != Answer::NoAnswer && SessionKind::current().allowsX11Grab() && m_x11Reachable()
             && m_x11Grab->start(std::move(handler)))
        m_running = m_x11Grab.get();
    return m_running != nullptr;
}

void LockEngineChoice::stop()
{
    if (m_running)
        m_running->stop();
    m_running = nullptr;
}

void LockEngineChoice::reassert()
{
    if (m_running)
        m_running->reassert();
}

void LockEngineChoice::setObserver(Observer* observer)
{
    m_guard->setObserver(observer);
    m_x11Grab->setObserver(observer);
}

} // namespace ow
