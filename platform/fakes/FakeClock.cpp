#include "FakeClock.h"

#include <QMutexLocker>

#include <algorithm>

namespace ow {

class FakeTimer final : public Timer {
public:
    FakeTimer(FakeClock* clock, quint64 id)
        : m_clock(clock), m_alive(clock->m_alive), m_id(id) {}
    ~FakeTimer() override
    {
        if (!m_alive.expired())
            m_clock->m_timers.erase(m_id);
    }

private:
    FakeClock* m_clock;
    std::weak_ptr<bool> m_alive;
    quint64 m_id;
};

FakeClock::FakeClock()
    : m_wallStart(QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC))
    , m_alive(std::make_shared<bool>(true))
{
}

FakeClock::~FakeClock() = default;

MonoTime FakeClock::monotonicNow() const
{
    return m_now;
}

QDateTime FakeClock::wallNow() const
{
    return m_wallStart.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(m_now).count());
}

void FakeClock::setWallNow(const QDateTime& t)
{
    m_wallStart = t.addMSecs(-std::chrono::duration_cast<std::chrono::milliseconds>(m_now).count());
}

std::unique_ptr<Timer> FakeClock::schedule(std::chrono::nanoseconds interval, bool repeating,
                                           std::function<void()> fn)
{
    const quint64 id = m_nextId++;
    m_timers.emplace(id, Entry{m_now + interval, interval, repeating, std::move(fn)});
    return std::make_unique<FakeTimer>(this, id);
}

void FakeClock::post(std::function<void()> fn)
{
    QMutexLocker lock(&m_postedMutex);
    m_posted.push_back(std::move(fn));
}

void FakeClock::runPosted()
{
    for (;;) {
        std::function<void()> fn;
        {
            QMutexLocker lock(&m_postedMutex);
            if (m_posted.empty())
                return;
            fn = std::move(m_posted.front());
            m_posted.pop_front();
        }
        fn();
    }
}

void FakeClock::advance(std::chrono::nanoseconds d)
{
    const MonoTime target = m_now + d;
    runPosted();
    for (;;) {
        // The earliest due timer; among equal deadlines the one scheduled first.
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.due <= target && (next == m_timers.end() || it->second.due < next->second.due))
                next = it;
        }
        if (next == m_timers.end())
            break;
        const quint64 id = next->first;
        // A timer that fell due during a stall fires late, at the current time; a repeating
        // one fires once for all its missed ticks and goes on from now, as Qt's timers do.
        m_now = std::max(m_now, next->second.due);
        if (next->second.repeating) {
            next->second.due += next->second.interval;
            if (next->second.due < m_now)
                next->second.due = m_now + next->second.interval;
        }
        // Copy: the callback may destroy its own timer.
        auto fn = next->second.fn;
        if (!m_timers.at(id).repeating)
            m_timers.erase(id);
        fn();
        runPosted();
    }
    m_now = target;
    runPosted();
}

void FakeClock::stall(std::chrono::nanoseconds d)
{
    m_now += d;
}

int FakeClock::pendingTimers() const
{
    return static_cast<int>(m_timers.size());
}

} // namespace ow
