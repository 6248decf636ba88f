#include "LockRequest.h"

#include "Localizer.h"
#include "LockController.h"

namespace ow {

namespace {

struct OutcomeName {
    LockOutcome outcome;
    const char* word;
    const char* line; // catalogue key; none for a lock that holds
};

constexpr OutcomeName kOutcomes[] = {
    {LockOutcome::Locked, "locked", nullptr},
    {LockOutcome::NoInputAccess, "no-input-access", "cli.refused_no_input_access"},
    {LockOutcome::InputBusy, "input-busy", "cli.refused_input_busy"},
    {LockOutcome::AlreadyLocked, "already-locked", "cli.refused_already_locked"},
    {LockOutcome::NoAnswer, "no-answer", "cli.refused_no_answer"},
};

const OutcomeName& nameOf(LockOutcome outcome)
{
    for (const OutcomeName& name : kOutcomes) {
        if (name.outcome == outcome)
            return name;
    }
    return kOutcomes[0];
}

} // namespace

std::optional<std::chrono::seconds> LockRequest::parseDuration(const QString& text)
{
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (!isNumber || seconds < 1 || seconds > LockController::kSafetyTimeout.count())
        return std::nullopt;
    return std::chrono::seconds(seconds);
}

QString refusalLine(LockOutcome outcome)
{
    const char* key = nameOf(outcome).line;
    return key ? L(key) : QString();
}

QByteArray outcomeWord(LockOutcome outcome)
{
    return nameOf(outcome).word;
}

std::optional<LockOutcome> outcomeFromWord(const QByteArray& word)
{
    for (const OutcomeName& name : kOutcomes) {
        if (word == name.word)
            return name.outcome;
    }
    return std::nullopt;
}

} // namespace ow
