#include "SyslogSystemLog.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include <syslog.h>

namespace {

std::vector<std::string> g_calls;

} // namespace

// This binary's own openlog and syslog, linked ahead of the C library's, so the test sees
// exactly what the log passes, and nothing reaches the machine's log.
extern "C" void openlog(const char* ident, int option, int facility)
{
    g_calls.push_back("openlog " + std::string(ident) + ' ' + std::to_string(option) + ' ' + std::to_string(facility));
}

extern "C" void syslog(int priority, const char* format, ...)
{
    std::string call = "syslog " + std::to_string(priority) + ' ' + format;
    // Take the argument only when the format asks for exactly one string, as printf would.
    if (std::string(format) == "%s") {
        va_list args;
        va_start(args, format);
        call += ' ' + std::string(va_arg(args, const char*));
        va_end(args);
    }
    g_calls.push_back(call);
}

TEST(SyslogSystemLogTest, OpensTheLogOnceAndPassesTheTextAsDataNeverAsTheFormat)
{
    const std::string line = "lock ended: 100%s%n%x done – ünïcode";
    ow::SyslogSystemLog first;
    ow::SyslogSystemLog second;
    first.write(QString::fromStdString(line));
    second.write(QStringLiteral("two"));
    const std::string warning = "syslog " + std::to_string(LOG_WARNING) + " %s ";
    EXPECT_EQ(g_calls, (std::vector<std::string>{"openlog orbinwash " + std::to_string(LOG_PID) + ' '
                                                     + std::to_string(LOG_USER),
                                                 warning + line, warning + "two"}));
}
