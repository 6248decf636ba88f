#pragma once

#include "InputGrab.h"

namespace ow {

// A grab that tests drive by hand: refuse() makes grab() fail, press() reports flags.
class FakeInputGrab final : public InputGrab {
public:
    bool grab(FlagsSink sink) override
    {
        ++grabCalls;
        if (refuse)
            return false;
        m_sink = std::move(sink);
        grabbed = true;
        return true;
    }
    void release() override
    {
        ++releaseCalls;
        grabbed = false;
        m_sink = nullptr;
    }
    void reassert() override { ++reassertCalls; }
    // Reports a modifier change as the real grab would, if grabbed.
    void report(quint64 flags)
    {
        if (m_sink)
            m_sink(flags);
    }

    bool refuse = false;
    bool grabbed = false;
    int grabCalls = 0;
    int releaseCalls = 0;
    int reassertCalls = 0;

private:
    FlagsSink m_sink;
};

} // namespace ow
