#pragma once

#include "LockWatchdog.h"

#include <QString>

#include <sys/types.h>

namespace ow {

// Runs orbinwash-watchdog beside the application while a lock lasts, feeding it one byte
// per heartbeat through a pipe; the helper kills this process when the heartbeats stop for
// 5 s or the lock outlives its deadline by 2 s, after leaving a crash record at
// recordPath. Without the helper at helperPath the lock simply runs unwatched.
class ProcessLockWatchdog final : public LockWatchdog {
public:
    ProcessLockWatchdog(QString helperPath, QString recordPath);
    ~ProcessLockWatchdog() override;
    ProcessLockWatchdog(const ProcessLockWatchdog&) = delete;
    ProcessLockWatchdog& operator=(const ProcessLockWatchdog&) = delete;

    void armed(std::chrono::milliseconds untilDeadline) override;
    void heartbeat() override;
    void disarmed() override;

    // The helper's usual place: the running program's folder.
    static QString besideApplication();

    static constexpr char kHeartbeat = 'h';

private:
    QString m_helperPath;
    QString m_recordPath;
    pid_t m_pid = -1;
    int m_fd = -1;
};

} // namespace ow
