#pragma once

#include "Clock.h"

#include <QMutex>

#include <deque>
#include <map>
#include <memory>

namespace ow {

// Virtual time for tests: nothing happens until the test advances the clock. Timers fire
// in deadline order at their exact virtual times; posted calls run after each timer and
// whenever runPosted() is called.
class FakeClock final : public Clock {
public:
    FakeClock();
    ~FakeClock() override;

    MonoTime monotonicNow() const override;
    QDateTime wallNow() const override;
    std::unique_ptr<Timer> schedule(std::chrono::nanoseconds interval, bool repeating,
                                    std::function<void()> fn) override;
    void post(std::function<void()> fn) override;

    // Moves time forward by d, firing every timer that falls due on the way.
    void advance(std::chrono::nanoseconds d);
    // Moves time forward by d with the main loop busy elsewhere: nothing fires until the
    // next advance, which first fires, late, whatever fell due meanwhile (each repeating
    // timer once).
    void stall(std::chrono::nanoseconds d);
    // Runs the calls posted so far, and those they post in turn.
    void runPosted();

    int pendingTimers() const;
    void setWallNow(const QDateTime& t);

private:
    struct Entry {
        MonoTime due;
        std::chrono::nanoseconds interval;
        bool repeating;
        std::function<void()> fn;
    };
    friend class FakeTimer;

    MonoTime m_now{};
    QDateTime m_wallStart;
    quint64 m_nextId = 1;
    std::map<quint64, Entry> m_timers;
    std::shared_ptr<bool> m_alive;

    mutable QMutex m_postedMutex;
    std::deque<std::function<void()>> m_posted;
};

} // namespace ow
