#pragma once

#include <chrono>

namespace ow {

// Something outside the main loop that ends the process if a lock outlives its safety
// deadline or the main loop stops answering, so that input never stays locked.
class LockWatchdog {
public:
    virtual ~LockWatchdog() = default;
    // A lock has begun; it must be over within untilDeadline.
    virtual void armed(std::chrono::milliseconds untilDeadline) = 0;
    // The main loop is still running. Called regularly while armed.
    virtual void heartbeat() = 0;
    // The lock has ended; nothing may be ended on its account any more.
    virtual void disarmed() = 0;
};

} // namespace ow
