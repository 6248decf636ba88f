#pragma once

#include "InputGuard.h"
#include "LockEngine.h"

#include <QObject>

namespace ow {

class SystemLog;
class UserDefaults;

// Locks through the input guard, which takes input from the whole session in the kernel,
// Wayland sessions included, and runs the unlock chord and a safety timeout of its own.
// It sees no keys, so it reports no flags: the chord's progress, the devices it could not
// take and its own end go to the observer. The guard holds the power button's device too,
// so no power-key inhibitor is needed beside it. A lock that ends otherwise than by the
// unlock keys or the timeout goes into the system log with its reason.
class GuardLockEngine final : public QObject, public LockEngine {
    Q_OBJECT
public:
    GuardLockEngine(InputGuard& guard, const UserDefaults& defaults, SystemLog& log);
    ~GuardLockEngine() override;

    // Asks the guard afresh whether it lets this session lock; done runs on the main thread
    // while this engine exists.
    void ask(std::function<void(InputGuard::Answer)> done);

    bool start(FlagsHandler handler) override;
    void stop() override;
    void setObserver(Observer* observer) override { m_observer = observer; }

    bool isRunning() const { return m_running; }

private:
    void ended(const QString& reason);

    InputGuard& m_guard;
    const UserDefaults& m_defaults;
    SystemLog& m_log;
    Observer* m_observer = nullptr;
    bool m_running = false;
};

} // namespace ow
