#include "ServiceClient.h"

#include "ClientInfo.h"
#include "Clock.h"
#include "HoldDuration.h"
#include "HttpClient.h"
#include "ReportReply.h"
#include "UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <QVariantMap>

#include <algorithm>

namespace ow {

namespace {

const QString kAckKey = QStringLiteral("OWAckMessage");
const QString kShownKey = QStringLiteral("OWShownMessages");
const QString kHistoryKey = QStringLiteral("OWMessageHistory");
const QString kTicketKey = QStringLiteral("OWTicketState");

const QString kIdField = QStringLiteral("id");
const QString kBodyField = QStringLiteral("body");
const QString kDateField = QStringLiteral("date");
const QString kMineField = QStringLiteral("mine");

// The integer types the store hands back, as UserDefaults::integer() accepts them.
std::optional<qint64> storedInteger(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

void keepLast(QVariantList& list, qsizetype limit)
{
    if (list.size() > limit)
        list.remove(0, list.size() - limit);
}

// The ids of the messages already shown. One foreign element makes the whole list
// unreadable, so a later append starts a fresh one.
QList<qint64> shownIds(const UserDefaults& defaults)
{
    QList<qint64> ids;
    for (const QVariant& element : defaults.array(kShownKey)) {
        const std::optional<qint64> id = storedInteger(element);
        if (!id)
            return {};
        ids.append(*id);
    }
    return ids;
}

// The stored history entries, oldest first. An element that is not a dictionary makes
// the whole list unreadable, so a later append starts a fresh one.
QVariantList storedHistory(const UserDefaults& defaults)
{
    const QVariantList entries = defaults.array(kHistoryKey);
    const bool readable = std::all_of(entries.cbegin(), entries.cend(), [](const QVariant& entry) {
        return entry.typeId() == QMetaType::QVariantMap;
    });
    return readable ? entries : QVariantList();
}

void appendToHistory(UserDefaults& defaults, QVariantList entries, qint64 id, const QString& body,
                     const QDateTime& date, bool mine)
{
    entries.append(QVariantMap {{kIdField, id}, {kBodyField, body}, {kDateField, date}, {kMineField, mine}});
    keepLast(entries, ServiceClient::kHistoryLimit);
    defaults.setValue(kHistoryKey, entries);
}

QString versionOrUnknown()
{
    const QString version = appVersion();
    return version.isEmpty() ? QStringLiteral("?") : version;
}

QByteArray compact(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

} // namespace

ServiceClient::ServiceClient(UserDefaults& defaults, HttpClient& http, Clock& clock, QUrl checkUrl,
                             QUrl reportUrl, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_http(http)
    , m_clock(clock)
    , m_checkUrl(std::move(checkUrl))
    , m_reportUrl(std::move(reportUrl))
{
    // As the last accepted reply left it, so that an open conversation shows from launch.
    const QVariant ticket = m_defaults.value(kTicketKey);
    if (ticket.typeId() == QMetaType::QString)
        m_ticketState = ticket.toString();
}

QString ServiceClient::deviceId()
{
    const QString key = QLatin1String(DefaultsKey::DeviceId);
    const QVariant stored = m_defaults.value(key);
    if (stored.typeId() == QMetaType::QString)
        return stored.toString();
    const QString created = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m_defaults.setValue(key, created);
    return created;
}

void ServiceClient::checkWithServer(std::function<void()> done)
{
    // Only this check-in's reply may answer it.
    const QString nonce = QUuid::createUuid().toString(QUuid::Id128).toUpper();
    QJsonObject request {
        {QStringLiteral("n"), nonce},
        {QStringLiteral("d"), deviceId()},
        {QStringLiteral("v"), versionOrUnknown()},
        {QStringLiteral("os"), osString()},
        {QStringLiteral("c"), QStringLiteral("direct")},
    };
    const qint64 acknowledged = m_defaults.integer(kAckKey);
    if (acknowledged >= 1)
        request.insert(QStringLiteral("m"), acknowledged);

    m_http.post(m_checkUrl, compact(request), kCheckTimeout, this,
                [this, nonce, done = std::move(done)](HttpClient::Response response) {
                    // The status says nothing the body does not: a valid body counts whatever it is.
                    if (response.delivered)
                        applyCheckInReply(response.body, nonce);
                    if (done)
                        done();
                });
}

void ServiceClient::applyCheckInReply(const QByteArray& body, const QString& nonce)
{
    const std::optional<CheckInReply> reply
        = CheckInReply::parse(body, nonce, m_clock.wallNow().toMSecsSinceEpoch());
    if (!reply)
        return;
    if (reply->ticketState != m_ticketState) {
        m_ticketState = reply->ticketState;
        m_defaults.setValue(kTicketKey, m_ticketState); // the file is written only when it changes
    }
    if (reply->holdSeconds)
        m_defaults.setValue(QLatin1String(DefaultsKey::HoldSeconds), *reply->holdSeconds);
    // A reply without a message leaves one that is still waiting to be shown.
    if (reply->messageId >= 1 && !reply->message.isEmpty() && !shownIds(m_defaults).contains(reply->messageId))
        m_pendingMessage = PendingMessage {reply->messageId, reply->message};
}

QList<ServiceClient::ArchivedMessage> ServiceClient::messageHistory() const
{
    QList<ArchivedMessage> messages;
    const QVariantList entries = storedHistory(m_defaults);
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QVariantMap entry = it->toMap();
        const std::optional<qint64> id = storedInteger(entry.value(kIdField));
        const QVariant body = entry.value(kBodyField);
        if (!id || body.typeId() != QMetaType::QString)
            continue;
        const QVariant date = entry.value(kDateField);
        const QVariant mine = entry.value(kMineField);
        messages.append(ArchivedMessage {
            *id,
            body.toString(),
            date.typeId() == QMetaType::QDateTime ? date.toDateTime() : m_clock.wallNow(),
            mine.typeId() == QMetaType::Bool && mine.toBool(),
        });
    }
    return messages;
}

void ServiceClient::markMessageShown()
{
    if (!m_pendingMessage)
        return;
    const PendingMessage shown = *m_pendingMessage;

    QVariantList ids;
    for (qint64 id : shownIds(m_defaults))
        ids.append(id);
    ids.append(shown.id);
    keepLast(ids, kHistoryLimit);
    m_defaults.setValue(kShownKey, ids);
    m_defaults.setValue(kAckKey, shown.id);
    archive(shown.id, shown.body);
    m_pendingMessage.reset();
}

void ServiceClient::archive(qint64 id, const QString& body)
{
    const QVariantList entries = storedHistory(m_defaults);
    const bool known = std::any_of(entries.cbegin(), entries.cend(), [id](const QVariant& entry) {
        return storedInteger(entry.toMap().value(kIdField)) == id;
    });
    if (!known)
        appendToHistory(m_defaults, entries, id, body, m_clock.wallNow(), false);
}

void ServiceClient::archiveOwn(const QString& text)
{
    const QDateTime now = m_clock.wallNow();
    // Negative, so that the user's own replies never meet a server id; integer division
    // truncates toward zero.
    const qint64 id = -(now.toMSecsSinceEpoch() / 1000);
    // No test for an equal id: two replies within one second are both kept.
    appendToHistory(m_defaults, storedHistory(m_defaults), id, text, now, true);
}

void ServiceClient::reportProblem(const QString& text, const std::optional<QString>& email,
                                  std::function<void(bool)> done)
{
    QJsonObject request {
        {QStringLiteral("d"), deviceId()},
        {QStringLiteral("v"), versionOrUnknown()},
        {QStringLiteral("os"), osString()},
        {QStringLiteral("text"), text},
    };
    if (email && !email->isEmpty())
        request.insert(QStringLiteral("email"), *email);

    m_http.post(m_reportUrl, compact(request), kReportTimeout, this,
                [done = std::move(done)](HttpClient::Response response) {
                    const bool accepted = response.delivered && reportAccepted(response.status, response.body);
                    if (done)
                        done(accepted);
                });
}

} // namespace ow
