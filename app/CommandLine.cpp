#include "CommandLine.h"

#include "ClientInfo.h"
#include "Localizer.h"
#include "LockController.h"

#include <QCommandLineParser>

#include <cstdio>

namespace ow {

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Without the options that QApplication takes later, with their values.
QStringList withoutQtOptions(QStringList arguments)
{
    static const QStringList qtOptions{QStringLiteral("-display"), QStringLiteral("--display"),
                                       QStringLiteral("-platform"), QStringLiteral("--platform")};
    for (qsizetype i = 1; i + 1 < arguments.size();) {
        if (qtOptions.contains(arguments[i]))
            arguments.remove(i, 2);
        else
            ++i;
    }
    return arguments;
}

} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(L("cli.description"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, L("cli.help_option"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, L("cli.version_option"));
    const QCommandLineOption lock(QStringLiteral("lock"), L("cli.lock_option"));
    const int longest = int(LockController::kSafetyTimeout.count());
    const QCommandLineOption forSeconds(QStringLiteral("for"), L("cli.for_option", longest), L("cli.seconds_value"));
    parser.addOptions({help, version, lock, forSeconds});
    const bool parsed = parser.parse(withoutQtOptions(arguments));
    m_help = parser.helpText();
    m_showHelp = parser.isSet(help);
    m_showVersion = parser.isSet(version);
    m_locks = parser.isSet(lock);

    const auto badSeconds = [longest] { return L("cli.bad_seconds", 1, longest); };
    if (!parsed) {
        // Only --for takes a value, so a parse that knows every option lacks its value.
        const QStringList unknown = parser.unknownOptionNames();
        m_mistake = unknown.isEmpty() ? badSeconds() : L("cli.unknown_option", unknown.first());
    } else if (!parser.positionalArguments().isEmpty()) {
        m_mistake = L("cli.unexpected_argument", parser.positionalArguments().first());
    } else if (parser.isSet(forSeconds) && !m_locks) {
        m_mistake = L("cli.for_needs_lock");
    } else if (parser.isSet(forSeconds)) {
        m_lockRequest.duration = LockRequest::parseDuration(parser.value(forSeconds));
        if (!m_lockRequest.duration)
            m_mistake = badSeconds();
    }
}

std::optional<int> CommandLine::answerAlone() const
{
    if (!m_mistake.isEmpty()) {
        print(stderr, QStringLiteral("orbinwash: %1\n").arg(m_mistake));
        return kUsageError;
    }
    if (m_showHelp) {
        print(stdout, m_help);
        return 0;
    }
    if (m_showVersion) {
        print(stdout, QStringLiteral("OrbinWash %1\n").arg(appVersion()));
        return 0;
    }
    return std::nullopt;
}

int CommandLine::report(LockOutcome outcome)
{
    if (outcome == LockOutcome::Locked)
        return 0;
    print(stderr, QStringLiteral("orbinwash: %1\n").arg(refusalLine(outcome)));
    return kNotLocked;
}

} // namespace ow
