#pragma once

#include "InputGuard.h"

#include <utility>

namespace ow {

// A guard that tests drive by hand: answer is what ask() brings, at once or, with holdAnswer,
// when the test calls answerNow(); refuse makes lock() fail. Its reports reach the last
// lock's events even after release, as a late one still on its way would.
class FakeInputGuard final : public InputGuard {
public:
    bool canLock() const override { return m_canLock; }
    void ask(std::function<void(Answer)> done) override
    {
        ++asks;
        m_pending = std::move(done);
        if (!holdAnswer)
            answerNow();
    }
    bool lock(unsigned hold, unsigned timeout, Events events) override
    {
        ++lockCalls;
        if (refuse)
            return false;
        holdSeconds = hold;
        timeoutSeconds = timeout;
        m_events = std::move(events);
        locked = true;
        return true;
    }
    void release() override
    {
        releaseCalls += locked ? 1 : 0;
        locked = false;
    }

    void answerNow()
    {
        m_canLock = answer == Answer::Yes;
        if (auto done = std::exchange(m_pending, {}))
            done(answer);
    }
    void progress(double fraction)
    {
        if (m_events.progress)
            m_events.progress(fraction);
    }
    void refuseDevices(const QStringList& names)
    {
        if (m_events.refused)
            m_events.refused(names);
    }
    // The guard ends the lock by itself.
    void releaseBy(const QString& reason)
    {
        locked = false;
        if (m_events.released)
            m_events.released(reason);
    }

    Answer answer = Answer::NotInstalled;
    bool holdAnswer = false;
    bool refuse = false;
    bool locked = false;
    unsigned holdSeconds = 0;
    unsigned timeoutSeconds = 0;
    int asks = 0;
    int lockCalls = 0;
    int releaseCalls = 0; // of a lock still held

private:
    bool m_canLock = false;
    std::function<void(Answer)> m_pending;
    Events m_events;
};

} // namespace ow
