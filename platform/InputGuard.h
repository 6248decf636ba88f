#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace ow {

// The input guard: a small system service that takes every input device of the seat away
// from the whole session in the kernel, runs the unlock chord and the safety timeout
// itself, and never hands a key code out. It needs no X11 and holds Wayland sessions too.
class InputGuard {
public:
    // What the guard reports while it holds a lock, on the main thread.
    struct Events {
        // The chord held: rising 0..1; 0 once when it is let go.
        std::function<void(double fraction)> progress;
        // Devices it could not take, by name (another program holds them).
        std::function<void(const QStringList& names)> refused;
        // The lock is over, by the chord, its timeout or anything else; reported once, with
        // the guard's own reason, or kLeaseHungUp or kLeftTheBus when it went without a word.
        std::function<void(const QString& reason)> released;
    };

    // Whether this session may lock through the guard.
    enum class Answer {
        Yes,
        No,           // the guard answered that this session may not lock
        NotInstalled, // nothing on the bus has or can start the guard's name
        NoAnswer,     // installed, but no answer in time, or it could not be started
    };

    // The reasons given when the guard ended a lock without saying so: its end of the lease
    // hung up (killed, crashed, aborted by its watchdog), or it left the bus.
    static constexpr const char* kLeaseHungUp = "guard-gone";
    static constexpr const char* kLeftTheBus = "guard-left-bus";

    virtual ~InputGuard() = default;

    // Whether the guard said yes when last asked; false before the first answer.
    virtual bool canLock() const = 0;
    // Asks the guard, which the bus may have to start first: done runs once, on the main
    // thread, at the latest when the implementation's bound on the wait runs out.
    virtual void ask(std::function<void(Answer)> done) = 0;
    // Starts a lock that the guard ends by itself after timeoutSeconds at the latest;
    // false when it cannot start.
    virtual bool lock(unsigned holdSeconds, unsigned timeoutSeconds, Events events) = 0;
    // Ends the lock at once, if one is held; no event follows. Safe when not locked.
    virtual void release() = 0;
};

} // namespace ow
