#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ow {

// A check-in reply the client may act on: it answers the client's own nonce, its time is
// close to the local clock, and every key has its exact JSON type.
struct CheckInReply {
    static constexpr qint64 kClockTolerance = 600; // seconds, either way
    static constexpr qsizetype kMaxBodyBytes = 64 * 1024;
    static constexpr qint64 kMinHoldSeconds = 1;
    static constexpr qint64 kMaxHoldSeconds = 30;

    qint64 messageId = 0;
    QString message;
    QString ticketState;
    // Only a whole number of seconds within the limits above.
    std::optional<qint64> holdSeconds;

    // The reply in body, or nothing when it must be ignored. nowMSecs is the wall clock.
    static std::optional<CheckInReply> parse(const QByteArray& body, const QString& nonce, qint64 nowMSecs);
};

} // namespace ow
