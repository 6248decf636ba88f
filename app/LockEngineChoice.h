#pragma once

#include "InputGuard.h"
#include "LockEngine.h"

#include <functional>
#include <memory>

namespace ow {

class GuardLockEngine;
class Platform;

// Picks the engine for each lock, since the input guard may be installed while the
// application runs: prepare asks the guard, without blocking, and start takes the guard when
// it lets this session lock, else the X11 grab in an X11 session where the guard is not
// installed or says no, else none, and the lock is refused. A Wayland session never uses
// the X11 grab: through Xwayland it would hold X programs only.
class LockEngineChoice final : public LockEngine {
public:
    // x11Reachable tells whether an X display answers.
    LockEngineChoice(std::unique_ptr<GuardLockEngine> guard, std::unique_ptr<LockEngine> x11Grab,
                     std::function<bool()> x11Reachable);
    // The guard and the session-wide X11 grab of the platform.
    LockEngineChoice(Platform& platform, std::function<bool()> x11Reachable);
    ~LockEngineChoice() override;

    void prepare(std::function<void()> ready) override;
    bool start(FlagsHandler handler) override;
    void stop() override;
    void reassert() override;
    void setObserver(Observer* observer) override;

    // The engine of the lock running now; null while stopped.
    LockEngine* running() const { return m_running; }

private:
    std::unique_ptr<GuardLockEngine> m_guard;
    std::unique_ptr<LockEngine> m_x11Grab;
    std::function<bool()> m_x11Reachable;
    LockEngine* m_running = nullptr;
    InputGuard::Answer m_answer = InputGuard::Answer::NotInstalled; // at the last prepare
};

} // namespace ow
