#pragma once

#include "PowerKeyInhibitor.h"

#include <functional>

namespace ow {

// Set available to false for a system without logind; onAcquire sees the moment of the call.
class FakePowerKeyInhibitor final : public PowerKeyInhibitor {
public:
    bool acquire(const QString& why) override
    {
        ++acquireCalls;
        if (onAcquire)
            onAcquire();
        if (!available)
            return false;
        reason = why;
        held = true;
        return true;
    }
    void release() override
    {
        ++releaseCalls;
        held = false;
    }

    bool available = true;
    bool held = false;
    QString reason;
    int acquireCalls = 0;
    int releaseCalls = 0;
    std::function<void()> onAcquire;
};

} // namespace ow
