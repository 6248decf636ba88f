#include "CrashText.h"

#include <cstdint>
#include <cstdlib>

namespace {

const QString kSeparator = QStringLiteral("\n---\n");

void checkPendingRecord(const QString& record)
{
    const ow::CrashText crash = ow::CrashText::fromPendingRecord(record);
    // At most two pieces, each free of the separator, read from the record's start.
    const bool split = record.contains(kSeparator);
    const QString sent = split ? crash.message + kSeparator + crash.stack : crash.message;
    if (crash.message.contains(kSeparator) || crash.stack.contains(kSeparator) || !record.startsWith(sent)
        || (!split && !crash.stack.isEmpty()))
        std::abort();
}

void checkSystemReport(const QString& report)
{
    const ow::CrashText crash = ow::CrashText::fromSystemReport(report);
    const bool named = crash.message.contains(QLatin1String("Exception"))
        || crash.message.contains(QLatin1String("Termination"));
    // The headline is one whole line of the report, or the fixed one.
    const bool isLine = report.startsWith(crash.message + QLatin1Char('\n'))
        || report.startsWith(crash.message + QLatin1String("\r\n")) || report == crash.message
        || report == crash.message + QLatin1Char('\r')
        || report.contains(QLatin1Char('\n') + crash.message + QLatin1Char('\n'))
        || report.contains(QLatin1Char('\n') + crash.message + QLatin1String("\r\n"))
        || report.endsWith(QLatin1Char('\n') + crash.message)
        || report.endsWith(QLatin1Char('\n') + crash.message + QLatin1Char('\r'));
    const bool fallback = crash.message == QStringLiteral("Rapport système macOS");
    if (crash.message.contains(QLatin1Char('\n')) || !(fallback || (named && isLine))
        || crash.stack.size() > ow::CrashText::kSystemReportChars || !report.startsWith(crash.stack)
        || (report.size() <= ow::CrashText::kSystemReportChars && crash.stack != report))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    // Both files are read as UTF-8, whatever they hold.
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    checkPendingRecord(text);
    checkSystemReport(text);
    // Repeated past the cut, which a short input never reaches.
    if (!text.isEmpty())
        checkSystemReport(text.repeated(ow::CrashText::kSystemReportChars / text.size() + 1));
    return 0;
}
