#include "CrashText.h"

#include <QStringList>
#include <QStringView>

namespace ow {

namespace {

const QString kRecordSeparator = QStringLiteral("\n---\n");
const QString kFallbackHeadline = QStringLiteral("Rapport système macOS");

QString headlineOf(const QString& report)
{
    for (QStringView line : QStringView(report).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.contains(QLatin1String("Exception")) || line.contains(QLatin1String("Termination")))
            return line.toString();
    }
    return kFallbackHeadline;
}

} // namespace

CrashText CrashText::fromPendingRecord(const QString& record)
{
    const QStringList pieces = record.split(kRecordSeparator);
    return {pieces.at(0), pieces.value(1)};
}

CrashText CrashText::fromSystemReport(const QString& report)
{
    return {headlineOf(report), report.left(kSystemReportChars)};
}

} // namespace ow
