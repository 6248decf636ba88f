#pragma once

#include "SystemLog.h"

namespace ow {

// syslog(3) under the name "orbinwash", facility user, at warning level.
class SyslogSystemLog final : public SystemLog {
public:
    SyslogSystemLog();

    void write(const QString& line) override;
};

} // namespace ow
