#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace ow {

// A lock asked for from outside the main window: `orbinwash --lock`, in the process it
// starts or handed over to the OrbinWash that already runs.
struct LockRequest {
    // Ends this lock after so long; none: the safety timer alone ends it.
    std::optional<std::chrono::seconds> duration;

    // A whole number of seconds from 1 up to the safety timeout; none for anything else.
    static std::optional<std::chrono::seconds> parseDuration(const QString& text);
};

// How a lock request ended.
enum class LockOutcome {
    Locked,
    NoInputAccess, // neither the input guard nor an X11 session to take input from
    InputBusy,     // another program holds the keyboard or pointer
    AlreadyLocked,
    NoAnswer, // the running OrbinWash never answered
};

// Told once how a lock request ended, before any alert about it is shown.
using LockDone = std::function<void(LockOutcome)>;

// The line a lock command prints when it did not lock, in the user's language.
QString refusalLine(LockOutcome outcome);
// The outcome as one word, the way the single-instance channel carries it, and back.
QByteArray outcomeWord(LockOutcome outcome);
std::optional<LockOutcome> outcomeFromWord(const QByteArray& word);

} // namespace ow
