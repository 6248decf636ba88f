#include "CheckInReply.h"
#include "FakeClock.h"
#include "FakeHttpClient.h"
#include "MemoryUserDefaults.h"
#include "ReportReply.h"
#include "ServiceClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::CheckInReply;
using ow::FakeHttpClient;
using ow::ServiceClient;
using Answer = FakeHttpClient::Answer;

const QString kAckKey = u"OWAckMessage"_s;
const QString kHoldKey = u"OWHoldSeconds"_s;
const QString kShownKey = u"OWShownMessages"_s;
const QString kHistoryKey = u"OWMessageHistory"_s;
const QString kNonce = u"0123456789ABCDEF0123456789ABCDEF"_s;
const QDateTime kNow(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC); // on a whole second
const QUrl kCheckUrl(u"https://service.test/check"_s);
const QUrl kReportUrl(u"https://service.test/report"_s);

QByteArray compact(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QJsonObject json(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

// A reply that passes every check: the nonce, the clock's time, a message and a hold.
QJsonObject validReply(const QString& nonce, const QDateTime& now)
{
    return {{u"n"_s, nonce},        {u"ts"_s, now.toSecsSinceEpoch()}, {u"mid"_s, 7},
            {u"msg"_s, u"Hello"_s}, {u"tk"_s, u"open"_s},              {u"hold"_s, 12}};
}

QVariantMap entry(const QVariant& id, const QVariant& body, const QVariant& date = {}, const QVariant& mine = {})
{
    QVariantMap map{{u"id"_s, id}, {u"body"_s, body}, {u"date"_s, date}, {u"mine"_s, mine}};
    map.removeIf([](const auto& item) { return !item.value().isValid(); });
    return map;
}

constexpr qint64 kDropped = -1; // the reply is ignored whole
constexpr qint64 kNoHold = 0;   // taken, without a hold

struct ReplyRow {
    const char* name;
    qint64 hold;
    // The body made of a reply that would otherwise pass.
    std::function<QByteArray(QJsonObject valid)> body;
    qint64 clockMSecs = 0; // past the whole second the clock stands on
};

ReplyRow edited(const char* name, qint64 hold, std::function<void(QJsonObject&)> edit, qint64 clockMSecs = 0)
{
    return {name, hold, [edit](QJsonObject r) { return edit(r), compact(r); }, clockMSecs};
}

// An undefined value takes the key out.
ReplyRow with(const char* name, qint64 hold, const QString& key, const QJsonValue& value, qint64 clockMSecs = 0)
{
    return edited(name, hold, [key, value](QJsonObject& r) { r.insert(key, value); }, clockMSecs);
}

// The valid reply padded to the body limit plus extra bytes.
ReplyRow padded(const char* name, qint64 hold, qsizetype extra)
{
    return edited(name, hold, [extra](QJsonObject& r) {
        r[u"pad"_s] = QString();
        r[u"pad"_s] = QString(CheckInReply::kMaxBodyBytes + extra - compact(r).size(), u'x');
    });
}

TEST(CheckInReplyTest, IsTakenOnlyWhenEveryRuleHolds)
{
    const auto undefined = QJsonValue::Undefined;
    const qint64 ts = kNow.toSecsSinceEpoch();
    const ReplyRow rows[] = {
        edited("valid", 12, [](QJsonObject&) {}),
        // The clock's fraction counts: 599.5 s either way is within.
        with("fraction just within, behind", 12, u"ts"_s, ts - 599, 500),
        with("fraction just within, ahead", 12, u"ts"_s, ts + 600, 500),
        with("six hundred behind", kDropped, u"ts"_s, ts - 600),
        with("six hundred ahead", kDropped, u"ts"_s, ts + 600),
        {"whole numbers as fractions or exponents", 10,
         [](QJsonObject) {
             return uR"({"n":"%1","ts":%2.0,"mid":7.0,"msg":"Hello","tk":"open","hold":1e1})"_s.arg(kNonce)
                 .arg(kNow.toSecsSinceEpoch()).toUtf8();
         }},
        with("hold at the lower limit", 1, u"hold"_s, 1),
        with("hold at the upper limit", 30, u"hold"_s, 30),
        // A hold outside its rule is skipped, the rest taken.
        with("hold as string", kNoHold, u"hold"_s, u"10"_s),
        with("hold zero", kNoHold, u"hold"_s, 0),
        with("hold above the limit", kNoHold, u"hold"_s, 31),
        with("hold with a fraction", kNoHold, u"hold"_s, 1.5),
        with("no hold", kNoHold, u"hold"_s, undefined),
        padded("body of exactly the limit", 12, 0),
        with("another nonce", kDropped, u"n"_s, u"FEDCBA9876543210FEDCBA9876543210"_s),
        with("nonce in lower case", kDropped, u"n"_s, kNonce.toLower()),
        with("no nonce", kDropped, u"n"_s, undefined),
        with("time as string", kDropped, u"ts"_s, QString::number(ts)),
        with("time with a fraction", kDropped, u"ts"_s, double(ts) + 0.5),
        with("no time", kDropped, u"ts"_s, undefined),
        with("message id as boolean", kDropped, u"mid"_s, true),
        with("message id as string", kDropped, u"mid"_s, u"7"_s),
        with("message id with a fraction", kDropped, u"mid"_s, 7.5),
        with("no message id", kDropped, u"mid"_s, undefined),
        with("message as number", kDropped, u"msg"_s, 5),
        with("no message", kDropped, u"msg"_s, undefined),
        with("ticket as number", kDropped, u"tk"_s, 1),
        with("no ticket", kDropped, u"tk"_s, undefined),
        {"not JSON", kDropped, [](QJsonObject) { return QByteArray("ok"); }},
        {"JSON array", kDropped, [](QJsonObject valid) { return QJsonDocument(QJsonArray{valid}).toJson(); }},
        padded("one byte over the limit", kDropped, 1),
    };
    for (const ReplyRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply = CheckInReply::parse(row.body(validReply(kNonce, kNow)), kNonce,
                                               kNow.toMSecsSinceEpoch() + row.clockMSecs);
        EXPECT_EQ(reply.has_value(), row.hold != kDropped);
        if (reply) {
            EXPECT_EQ(std::tuple(reply->messageId, reply->message, reply->ticketState), std::tuple(7, u"Hello"_s, u"open"_s));
            EXPECT_EQ(reply->holdSeconds, row.hold == kNoHold ? std::nullopt : std::optional(row.hold));
        }
    }
}

TEST(ReportReplyTest, IsAcceptedOnlyForStatus200WithOkTrue)
{
    const std::tuple<int, QByteArray, bool> rows[] = {
        {200, R"({"ok":true})", true},  {200, R"({"ok":true,"id":12})", true}, {200, R"({"ok":false})", false},
        {201, R"({"ok":true})", false}, {500, R"({"ok":true})", false},        {200, R"({"ok":"true"})", false},
        {200, R"({"ok":1})", false},    {200, R"({})", false},                 {200, R"([{"ok":true}])", false},
    };
    for (const auto& [status, body, accepted] : rows)
        EXPECT_EQ(ow::reportAccepted(status, body), accepted) << status << body.toStdString();
}

class ServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_clock.setWallNow(kNow);
        m_defaults.setValue(kHoldKey, qint64(5));
    }

    // Check-ins get the valid reply to their own nonce, as edit changes it.
    void answerWith(std::function<void(QJsonObject&)> edit = {}, int status = 200)
    {
        m_http.setHandler([this, edit, status](const FakeHttpClient::Request& request) {
            QJsonObject reply = validReply(json(request.body).value(u"n"_s).toString(), m_clock.wallNow());
            if (edit)
                edit(reply);
            return Answer{status, compact(reply)};
        });
    }

    // Whether the check-in has ended.
    static bool checkIn(ServiceClient& client)
    {
        auto finished = std::make_shared<bool>(false);
        client.checkWithServer([finished] { *finished = true; });
        return *finished;
    }
    QJsonObject lastCheckIn() const { return json(m_http.requestsTo(kCheckUrl).constLast().body); }
    std::optional<std::pair<qint64, QString>> pending() const
    {
        const auto message = m_client.pendingMessage();
        return message ? std::optional(std::pair(message->id, message->body)) : std::nullopt;
    }

    // Makes (id, body) pending through a check-in.
    void receiveMessage(qint64 id, const QString& body, const QString& ticket = u"open"_s)
    {
        answerWith([id, body, ticket](QJsonObject& reply) {
            reply[u"mid"_s] = id;
            reply[u"msg"_s] = body;
            reply[u"tk"_s] = ticket;
        });
        ASSERT_TRUE(checkIn(m_client));
        EXPECT_EQ(m_client.ticketState(), ticket);
    }

    ow::FakeClock m_clock;
    ow::MemoryUserDefaults m_defaults;
    FakeHttpClient m_http{m_clock};
    ServiceClient m_client{m_defaults, m_http, m_clock, kCheckUrl, kReportUrl};
};

// Compact JSON of exactly these keys, the device id created once as an upper-case UUID, and
// the acknowledgement only for a stored integer of at least one.
TEST_F(ServiceClientTest, CheckInsCarryAFreshNonceTheKeptDeviceIdAndTheAcknowledgement)
{
    answerWith();
    const QVariant acks[] = {QVariant(), QVariant(0), QVariant(qint64(-3)), QVariant(u"5"_s), QVariant(5.0),
                             QVariant(true), QVariant(1), QVariant(qint64(4711))};
    for (const QVariant& ack : acks) {
        if (ack.isValid())
            m_defaults.setValue(kAckKey, ack);
        ASSERT_TRUE(checkIn(m_client));
        const bool integer = ack.typeId() == QMetaType::Int || ack.typeId() == QMetaType::LongLong;
        EXPECT_EQ(lastCheckIn().value(u"m"_s).toInteger(-1), integer && ack.toLongLong() >= 1 ? ack.toLongLong() : -1)
            << ack.toString().toStdString();
    }
    const QString created = m_defaults.string(u"OWDeviceId"_s);
    EXPECT_TRUE(QRegularExpression(u"^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s).match(created).hasMatch());
    QSet<QString> nonces;
    for (const FakeHttpClient::Request& request : m_http.requests()) {
        const QJsonObject sent = json(request.body);
        EXPECT_EQ(std::tuple(request.kind, request.url, request.body), std::tuple(FakeHttpClient::Kind::Post, kCheckUrl, compact(sent)));
        QStringList keys = sent.keys();
        keys.removeOne(u"m"_s);
        EXPECT_EQ(keys, (QStringList{u"c"_s, u"d"_s, u"n"_s, u"os"_s, u"v"_s}));
        EXPECT_TRUE(QRegularExpression(u"^[0-9A-F]{32}$"_s).match(sent.value(u"n"_s).toString()).hasMatch());
        EXPECT_EQ(std::tuple(sent.value(u"d"_s).toString(), sent.value(u"c"_s).toString()), std::tuple(created, u"direct"_s));
        nonces.insert(sent.value(u"n"_s).toString());
    }
    EXPECT_EQ(nonces.size(), std::size(acks));

    // A stored id is sent unchanged, even an empty one; a reply with no hold and no change
    // of conversation then stores nothing.
    m_defaults.setValue(u"OWDeviceId"_s, QString());
    m_defaults.writes.clear();
    answerWith([](QJsonObject& reply) { reply.remove(u"hold"_s); });
    ASSERT_TRUE(checkIn(m_client));
    EXPECT_EQ(lastCheckIn().value(u"d"_s), QJsonValue(QString()));
    EXPECT_EQ(m_defaults.allWrites(), 0);
}

// The status says nothing the body does not; a reply to another check-in, or none, changes
// nothing but the device id; one that never comes ends at the check-in's timeout.
TEST_F(ServiceClientTest, AReplyIsAppliedWholeOrNotAtAll)
{
    const std::tuple<const char*, int, QString, bool> rows[] = {
        {"valid", 200, {}, true},
        {"server error with a valid body", 500, {}, true},
        {"another check-in's nonce", 200, kNonce, false},
        {"no answer", 0, {}, false},
    };
    for (const auto& [name, status, nonce, applied] : rows) {
        SCOPED_TRACE(name);
        ow::MemoryUserDefaults defaults;
        ServiceClient client(defaults, m_http, m_clock, kCheckUrl, kReportUrl);
        answerWith([&nonce](QJsonObject& reply) { reply[u"n"_s] = nonce.isEmpty() ? reply[u"n"_s].toString() : nonce; },
                   status);
        ASSERT_TRUE(checkIn(client));
        EXPECT_EQ(client.ticketState(), applied ? u"open"_s : u"none"_s);
        EXPECT_EQ(client.pendingMessage().has_value(), applied);
        EXPECT_EQ(defaults.value(kHoldKey), applied ? QVariant(qint64(12)) : QVariant());
        EXPECT_EQ(defaults.allWrites(), applied ? 3 : 1) << "the device id, the hold, the ticket";
    }

    m_http.setHandler({});
    bool finished = false;
    m_client.checkWithServer([&finished] { finished = true; });
    m_clock.advance(ServiceClient::kCheckTimeout - 1ms);
    EXPECT_FALSE(finished);
    m_clock.advance(1ms);
    EXPECT_TRUE(finished);
    EXPECT_EQ(m_client.ticketState(), u"none"_s);
}

// Each reply is checked against its own request's nonce; one for a client gone is dropped.
TEST_F(ServiceClientTest, OverlappingCheckInsEachApplyTheirOwnReply)
{
    int finished = 0;
    auto gone = std::make_unique<ServiceClient>(m_defaults, m_http, m_clock, kCheckUrl, kReportUrl);
    for (ServiceClient* client : {&m_client, &m_client, gone.get()})
        client->checkWithServer([&finished] { ++finished; });
    const auto answer = [this](qsizetype i, const QString& ticket) {
        QJsonObject reply = validReply(json(m_http.held(i).body).value(u"n"_s).toString(), kNow);
        reply[u"tk"_s] = ticket;
        m_http.answerHeld(i, Answer{200, compact(reply)});
    };
    gone.reset();
    answer(2, u"gone"_s);
    answer(1, u"second"_s);
    EXPECT_EQ(m_client.ticketState(), u"second"_s);
    answer(0, u"first"_s);
    EXPECT_EQ(m_client.ticketState(), u"first"_s);
    EXPECT_EQ(finished, 2);
}

TEST_F(ServiceClientTest, PendingMessageOutlivesRepliesWithoutOne)
{
    receiveMessage(7, u"Hello"_s);
    for (const auto& [id, body] : {std::pair{qint64(0), u"text"_s}, {qint64(-2), u"text"_s}, {qint64(8), QString()}}) {
        receiveMessage(id, body, u"later"_s);
        EXPECT_EQ(pending(), std::pair(qint64(7), u"Hello"_s));
    }
    receiveMessage(9, u"Newer"_s);
    EXPECT_EQ(pending(), std::pair(qint64(9), u"Newer"_s));
}

// Message 7 offered by a check-in, against what was stored before: a shown list is read whole
// or started afresh; an id already in the history, even on an entry that cannot be shown, is
// not archived twice. Shown, it is acknowledged and not offered again.
TEST_F(ServiceClientTest, ShownMessageJoinsHistoryAndShownListOnceAndIsAcknowledged)
{
    const QDateTime earlier = kNow.addDays(-1);
    const std::tuple<const char*, QVariantList, QVariantList, bool> rows[] = {
        {"nothing stored", {}, {}, true},
        {"shown before", {3, qint64(7)}, {}, false},
        {"foreign shown list", {u"x"_s, qint64(7)}, {}, true},
        {"in the history", {}, {entry(qint64(7), u"first time"_s, earlier, false)}, true},
        {"in the history, unshowable", {}, {entry(qint64(7), 42, earlier, false)}, true},
    };
    for (const auto& [name, shown, history, offered] : rows) {
        SCOPED_TRACE(name);
        m_defaults.remove(kAckKey);
        m_defaults.setValue(kShownKey, shown);
        m_defaults.setValue(kHistoryKey, history);
        receiveMessage(7, u"Hello"_s);
        EXPECT_EQ(pending().has_value(), offered);
        if (!offered)
            continue;
        m_clock.advance(90s);
        m_client.markMessageShown();
        EXPECT_FALSE(pending().has_value());
        EXPECT_EQ(m_defaults.value(kShownKey), QVariant(QVariantList{qint64(7)}));
        EXPECT_EQ(m_defaults.integer(kAckKey), 7);
        const QVariantList fresh{entry(qint64(7), u"Hello"_s, m_clock.wallNow(), false)};
        EXPECT_EQ(m_defaults.array(kHistoryKey), history.isEmpty() ? fresh : history);

        m_defaults.writes.clear();
        m_client.markMessageShown();
        EXPECT_EQ(m_defaults.allWrites(), 0);
        ASSERT_TRUE(checkIn(m_client));
        EXPECT_EQ(lastCheckIn().value(u"m"_s).toInteger(), 7);
        EXPECT_FALSE(pending().has_value());
    }
}

// Own replies take minus their whole second as id, cut off rather than rounded, so two in one
// second are both kept; the history and the shown list keep the newest fifty.
TEST_F(ServiceClientTest, HistoryAndShownListKeepTheNewestFifty)
{
    QVariantList shown;
    for (qint64 id = 101; id <= 150; ++id)
        shown.append(id);
    m_defaults.setValue(kShownKey, shown);
    m_clock.setWallNow(kNow.addMSecs(100));
    for (int i = 0; i < 51; ++i) {
        m_client.archiveOwn(u"reply %1"_s.arg(i));
        m_clock.advance(i == 0 ? 800ms : 1s);
    }
    auto history = m_client.messageHistory();
    ASSERT_EQ(history.size(), ServiceClient::kHistoryLimit);
    EXPECT_EQ(std::tuple(history.first().body, history.first().date), std::tuple(u"reply 50"_s, kNow.addMSecs(49'900)));
    EXPECT_EQ(std::tuple(history.last().body, history.last().id, history.last().mine),
              std::tuple(u"reply 1"_s, -kNow.toSecsSinceEpoch(), true));

    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();
    history = m_client.messageHistory();
    ASSERT_EQ(history.size(), ServiceClient::kHistoryLimit);
    EXPECT_EQ(std::tuple(history.first().id, history.last().body), std::tuple(qint64(7), u"reply 2"_s));
    const QVariantList stored = m_defaults.array(kShownKey);
    ASSERT_EQ(stored.size(), 50);
    EXPECT_EQ(std::tuple(stored.first().toLongLong(), stored.last().toLongLong()), std::tuple(102, 7));
}

TEST_F(ServiceClientTest, HistoryEntriesAreReadOneByOneAndAForeignElementStartsAfresh)
{
    const QDateTime stored = kNow.addDays(-3);
    m_defaults.setValue(kHistoryKey, QVariantList{entry(u"1"_s, u"id as text"_s, stored, false),
                                                  entry(qint64(2), 42, stored, false),
                                                  entry(QVariant(), u"no id"_s, stored, false),
                                                  entry(3, u"no date, no mine"_s),
                                                  entry(qint64(4), u"odd date and mine"_s, u"yesterday"_s, u"true"_s),
                                                  entry(qint64(5), u"complete"_s, stored, true)});
    m_clock.advance(30s);
    const auto history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(std::tuple(history[0].id, history[0].date, history[0].mine), std::tuple(qint64(5), stored, true));
    for (const int i : {1, 2})
        EXPECT_EQ(std::tuple(history[i].id, history[i].date, history[i].mine),
                  std::tuple(qint64(5 - i), kNow.addSecs(30), false));

    m_defaults.setValue(kHistoryKey, QVariantList{entry(qint64(3), u"kept?"_s, kNow, false), u"stray"_s});
    EXPECT_TRUE(m_client.messageHistory().isEmpty());
    m_client.archiveOwn(u"mine"_s);
    ASSERT_EQ(m_client.messageHistory().size(), 1);
    EXPECT_EQ(m_client.messageHistory()[0].body, u"mine"_s);
}

// The text as given, the address only when not empty; the service's answer decides, and one
// that never comes is a failure at the report's timeout.
TEST_F(ServiceClientTest, ReportCarriesTheTextAsGivenAndSaysWhetherItWasTaken)
{
    const QString text = u"  Line one\nLine two — ünïcode \"quoted\"\t "_s;
    const std::tuple<std::optional<QString>, Answer, bool> rows[] = {
        {std::nullopt, {200, R"({"ok":true})"}, true}, {QString(), {200, R"({"ok":true})"}, true},
        {u"  "_s, {200, R"({"ok":true})"}, true},      {u"a@b.example"_s, {200, R"({"ok":true})"}, true},
        {std::nullopt, {500, R"({"ok":true})"}, false}, {std::nullopt, {200, R"({"ok":false})"}, false},
        {std::nullopt, {0}, false},
    };
    for (const auto& [email, answer, taken] : rows) {
        m_http.answer(kReportUrl, answer);
        std::optional<bool> outcome;
        m_client.reportProblem(text, email, [&outcome](bool ok) { outcome = ok; });
        EXPECT_EQ(outcome, taken) << answer.status << answer.body.toStdString();
        const QJsonObject sent = json(m_http.requests().last().body);
        EXPECT_EQ(m_http.requests().last().body, compact(sent));
        EXPECT_EQ(sent.keys(), email.value_or(QString()).isEmpty()
                                   ? QStringList({u"d"_s, u"os"_s, u"text"_s, u"v"_s})
                                   : QStringList({u"d"_s, u"email"_s, u"os"_s, u"text"_s, u"v"_s}));
        EXPECT_EQ(std::tuple(sent.value(u"text"_s).toString(), sent.value(u"d"_s).toString(), sent.value(u"email"_s)),
                  std::tuple(text, m_client.deviceId(),
                             email.value_or(QString()).isEmpty() ? QJsonValue(QJsonValue::Undefined) : *email));
    }

    ServiceClient unanswered(m_defaults, m_http, m_clock, kCheckUrl, QUrl(u"https://service.test/held"_s));
    std::optional<bool> outcome;
    unanswered.reportProblem(text, {}, [&outcome](bool ok) { outcome = ok; });
    m_clock.advance(ServiceClient::kReportTimeout - 1ms);
    EXPECT_FALSE(outcome.has_value());
    m_clock.advance(1ms);
    EXPECT_EQ(outcome, false);
}

} // namespace
