#pragma once

#include <chrono>
#include <functional>
#include <memory>

struct sd_event;

namespace owguard {

// Time since boot, sleep included: a lock's deadline runs on while the machine is suspended.
using Time = std::chrono::microseconds;

// A pending one-shot timer. Destroying it cancels it, also from inside its own callback.
class Timer {
public:
    virtual ~Timer() = default;
};

// Time and one-shot timers: the lock's timing goes through here so tests run it in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Time now() const = 0;
    // Calls fn once at `when` (a now() value) unless the returned timer is destroyed first;
    // nullptr when the loop cannot take another timer.
    virtual std::unique_ptr<Timer> at(Time when, std::function<void()> fn) = 0;

    // CLOCK_BOOTTIME on the loop's timers.
    static std::unique_ptr<Clock> boottime(sd_event* loop);
};

} // namespace owguard
