#pragma once

#include "InputGuard.h"

namespace ow {

// A guard that tests drive by hand: authorised is the answer a refresh brings, refuse makes
// lock() fail. Its reports reach the last lock's events even after release, as a late one
// still on its way would.
class FakeInputGuard final : public InputGuard {
public:
    bool canLock() const override { return m_canLock; }
    void refresh() override { m_canLock = authorised; }
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

    bool authorised = false;
    bool refuse = false;
    bool locked = false;
    unsigned holdSeconds = 0;
    unsigned timeoutSeconds = 0;
    int lockCalls = 0;
    int releaseCalls = 0; // of a lock still held

private:
    bool m_canLock = false;
    Events m_events;
};

} // namespace ow
