#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

namespace ow {

// Time since an arbitrary fixed point; never goes backwards.
using MonoTime = std::chrono::nanoseconds;

// A scheduled timer. Destroying it cancels it, also from inside its own callback.
class Timer {
public:
    virtual ~Timer() = default;
};

// Time, timers and the main queue. Logic that must run in virtual time takes a Clock
// instead of calling QTimer or the system clock itself.
class Clock {
public:
    virtual ~Clock() = default;

    virtual MonoTime monotonicNow() const = 0;
    virtual QDateTime wallNow() const = 0;

    // Calls fn on the main thread after interval, once or every interval, until the
    // returned timer is destroyed. Deadlines are kept precisely, not coarsely.
    virtual std::unique_ptr<Timer> schedule(std::chrono::nanoseconds interval, bool repeating,
                                            std::function<void()> fn) = 0;

    // Calls fn on the main thread soon, after the current event. Safe from any thread.
    virtual void post(std::function<void()> fn) = 0;
};

} // namespace ow
