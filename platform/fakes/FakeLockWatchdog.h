#pragma once

#include "LockWatchdog.h"

#include <optional>

namespace ow {

class FakeLockWatchdog final : public LockWatchdog {
public:
    void armed(std::chrono::milliseconds untilDeadline) override
    {
        deadline = untilDeadline;
        isArmed = true;
        ++armCount;
    }
    void heartbeat() override { ++heartbeats; }
    void disarmed() override
    {
        isArmed = false;
        ++disarmCount;
    }

    std::optional<std::chrono::milliseconds> deadline;
    bool isArmed = false;
    int armCount = 0;
    int disarmCount = 0;
    int heartbeats = 0;
};

} // namespace ow
