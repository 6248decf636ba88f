#include "CheckInReply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

const QString kNonce = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
// Half a second past a whole one, so that the fraction of the clock takes part.
constexpr qint64 kNowMSecs = 1767268800500;

// Any JSON value, with the nonce and timestamps near the clock more likely than chance
// would make them, so that replies get past the first checks.
QJsonValue anyValue(FuzzedDataProvider& data)
{
    switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return QJsonValue(QJsonValue::Null);
    case 1:
        return data.ConsumeBool();
    case 2:
        return data.ConsumeIntegral<qint64>();
    case 3:
        return data.ConsumeFloatingPoint<double>();
    case 4:
        return QString::fromStdString(data.ConsumeRandomLengthString(64));
    case 5:
        return kNonce;
    case 6:
        return kNowMSecs / 1000 + data.ConsumeIntegralInRange<qint64>(-700, 700);
    default:
        return data.ConsumeIntegralInRange<qint64>(-2, 40);
    }
}

QByteArray structuredBody(FuzzedDataProvider& data)
{
    QJsonObject json;
    for (const char* key : {"n", "ts", "mid", "msg", "tk", "hold"}) {
        if (data.ConsumeBool())
            json.insert(QLatin1String(key), anyValue(data));
    }
    return QJsonDocument(json).toJson(data.ConsumeBool() ? QJsonDocument::Compact : QJsonDocument::Indented);
}

// What an accepted reply promises, checked against the body by other means.
void checkAccepted(const ow::CheckInReply& reply, const QByteArray& body)
{
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const bool fits = body.size() <= ow::CheckInReply::kMaxBodyBytes;
    const bool ownNonce = json.value(QLatin1String("n")).toString() == kNonce;
    const double offset = static_cast<double>(kNowMSecs) / 1000.0 - json.value(QLatin1String("ts")).toDouble();
    const bool onTime = std::abs(offset) < static_cast<double>(ow::CheckInReply::kClockTolerance);
    const bool sameText = json.value(QLatin1String("msg")).toString() == reply.message
        && json.value(QLatin1String("tk")).toString() == reply.ticketState;
    const bool holdInRange = !reply.holdSeconds
        || (*reply.holdSeconds >= ow::CheckInReply::kMinHoldSeconds
            && *reply.holdSeconds <= ow::CheckInReply::kMaxHoldSeconds);
    if (!fits || !ownNonce || !onTime || !sameText || !holdInRange)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    QByteArray body;
    if (data.ConsumeBool()) {
        // Raw bytes, for the JSON parser and the size limit.
        const std::vector<char> raw = data.ConsumeRemainingBytes<char>();
        body = QByteArray(raw.data(), static_cast<qsizetype>(raw.size()));
    } else {
        body = structuredBody(data);
    }
    if (const std::optional<ow::CheckInReply> reply = ow::CheckInReply::parse(body, kNonce, kNowMSecs))
        checkAccepted(*reply, body);
    return 0;
}
