#include "SyslogSystemLog.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include <syslog.h>

namespace {

struct LoggedCall {
    int priority;
    std::string format;
    std::string text;
};

struct OpenCall {
    std::string ident;
    int option;
    int facility;
};

std::vector<LoggedCall> g_logged;
std::vector<OpenCall> g_opened;

} // namespace

// This binary's own openlog and syslog, linked ahead of the C library's, so the tests see
// exactly what the log passes, and nothing reaches the machine's log.
extern "C" void openlog(const char* ident, int option, int facility)
{
    g_opened.push_back({ident, option, facility});
}

extern "C" void syslog(int priority, const char* format, ...)
{
    LoggedCall call{priority, format, {}};
    // Take the argument only when the format asks for exactly one string, as printf would.
    if (call.format == "%s") {
        va_list args;
        va_start(args, format);
        call.text = va_arg(args, const char*);
        va_end(args);
    }
    g_logged.push_back(call);
}

using namespace ow;

namespace {

TEST(SyslogSystemLogTest, TextIsPassedAsDataNeverAsTheFormat)
{
    SyslogSystemLog log;
    g_logged.clear();
    const QString line = QStringLiteral("lock ended: 100%s%n%x done – ünïcode");
    log.write(line);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0].priority, LOG_WARNING);
    EXPECT_EQ(g_logged[0].format, "%s");
    EXPECT_EQ(g_logged[0].text, line.toUtf8().toStdString());
}

TEST(SyslogSystemLogTest, LogIsOpenedOnceUnderTheApplicationsName)
{
    SyslogSystemLog first;
    SyslogSystemLog second;
    first.write(QStringLiteral("one"));
    second.write(QStringLiteral("two"));
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0].ident, "orbinwash");
    EXPECT_EQ(g_opened[0].option, LOG_PID);
    EXPECT_EQ(g_opened[0].facility, LOG_USER);
}

} // namespace
