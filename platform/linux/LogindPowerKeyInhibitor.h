#pragma once

#include "PowerKeyInhibitor.h"

#include <QDBusConnection>

namespace ow {

// Holds a systemd-logind "block" inhibitor for the power, suspend and hibernate keys. The
// inhibitor lasts as long as the file descriptor logind hands back stays open, so the
// kernel ends it if this process dies. Without a system bus or logind nothing is held.
class LogindPowerKeyInhibitor final : public PowerKeyInhibitor {
public:
    explicit LogindPowerKeyInhibitor(QDBusConnection bus = QDBusConnection::systemBus());
    ~LogindPowerKeyInhibitor() override;
    LogindPowerKeyInhibitor(const LogindPowerKeyInhibitor&) = delete;
    LogindPowerKeyInhibitor& operator=(const LogindPowerKeyInhibitor&) = delete;

    bool acquire(const QString& reason) override;
    void release() override;

    // Input is already taken when this is asked: together with the display-sleep
    // assertion's call a lock waits on the bus for well under a second.
    static constexpr int kCallTimeoutMs = 400;

private:
    QDBusConnection m_bus;
    int m_fd = -1;
};

} // namespace ow
