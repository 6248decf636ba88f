#include "CheckInReply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

namespace ow {

namespace {

// Qt keeps a whole number that fits in 64 bits as an integer, so any other number is a
// fraction or out of range; booleans and strings are not numbers at all.
std::optional<qint64> integerOf(const QJsonValue& value)
{
    const QVariant number = value.toVariant();
    if (number.typeId() != QMetaType::LongLong)
        return std::nullopt;
    return number.toLongLong();
}

std::optional<QString> stringOf(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

std::optional<CheckInReply> CheckInReply::parse(const QByteArray& body, const QString& nonce, qint64 nowMSecs)
{
    if (body.size() > kMaxBodyBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject json = document.object();

    const std::optional<QString> echoed = stringOf(json.value(QLatin1String("n")));
    const std::optional<qint64> timestamp = integerOf(json.value(QLatin1String("ts")));
    const std::optional<qint64> messageId = integerOf(json.value(QLatin1String("mid")));
    const std::optional<QString> message = stringOf(json.value(QLatin1String("msg")));
    const std::optional<QString> ticketState = stringOf(json.value(QLatin1String("tk")));
    if (!echoed || !timestamp || !messageId || !message || !ticketState)
        return std::nullopt;
    // A reply to another check-in, or replayed.
    if (*echoed != nonce)
        return std::nullopt;
    // In doubles, so that no timestamp can overflow; the local clock keeps its fraction.
    const double offsetMSecs = static_cast<double>(nowMSecs) - static_cast<double>(*timestamp) * 1000.0;
    if (std::abs(offsetMSecs) >= static_cast<double>(kClockTolerance * 1000))
        return std::nullopt;

    CheckInReply reply;
    reply.messageId = *messageId;
    reply.message = *message;
    reply.ticketState = *ticketState;
    const std::optional<qint64> hold = integerOf(json.value(QLatin1String("hold")));
    if (hold && *hold >= kMinHoldSeconds && *hold <= kMaxHoldSeconds)
        reply.holdSeconds = hold;
    return reply;
}

} // namespace ow
