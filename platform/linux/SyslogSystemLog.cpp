#include "SyslogSystemLog.h"

#include <QByteArray>

#include <mutex>

#include <syslog.h>

namespace ow {

SyslogSystemLog::SyslogSystemLog()
{
    // The connection is the process's, not this object's: open it once and keep it.
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("orbinwash", LOG_PID, LOG_USER); });
}

void SyslogSystemLog::write(const QString& line)
{
    const QByteArray utf8 = line.toUtf8();
    // The text is data: a "%" in it must never be read as a conversion.
    syslog(LOG_WARNING, "%s", utf8.constData());
}

} // namespace ow
