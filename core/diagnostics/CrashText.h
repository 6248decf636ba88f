#pragma once

#include <QString>

namespace ow {

// What a crash report sends, read from the text of a crash file. Pure text work, apart
// from CrashReporter's file and network handling so that it can be fuzzed alone.
struct CrashText {
    static constexpr qsizetype kSystemReportChars = 18000;

    QString message;
    QString stack;

    // A record left by the fatal error hooks: the headline, then "\n---\n" and the stack.
    // Anything after a further separator is not sent.
    static CrashText fromPendingRecord(const QString& record);
    // A system crash report: its first line naming an exception or a termination (or a
    // fixed headline when none does), and the report's first kSystemReportChars characters.
    static CrashText fromSystemReport(const QString& report);
};

} // namespace ow
