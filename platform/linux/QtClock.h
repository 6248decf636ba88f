#pragma once

#include "Clock.h"

#include <QElapsedTimer>

namespace ow {

// The real clock: the monotonic clock, the system's wall clock, precise QTimers and
// queued calls on the application's main thread.
class QtClock final : public Clock {
public:
    QtClock();

    MonoTime monotonicNow() const override;
    QDateTime wallNow() const override;
    std::unique_ptr<Timer> schedule(std::chrono::nanoseconds interval, bool repeating,
                                    std::function<void()> fn) override;
    void post(std::function<void()> fn) override;

private:
    QElapsedTimer m_elapsed;
};

} // namespace ow
