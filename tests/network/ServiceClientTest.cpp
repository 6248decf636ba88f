#include "CheckInReply.h"
#include "FakeClock.h"
#include "NetworkFakes.h"
#include "RawServer.h"
#include "ServiceClient.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::HttpClient;
using ow::ServiceClient;
using History = QList<ServiceClient::ArchivedMessage>;

const QString kDeviceIdKey = u"OWDeviceId"_s;
const QString kAckKey = u"OWAckMessage"_s;
const QString kHoldKey = u"OWHoldSeconds"_s;
const QString kShownKey = u"OWShownMessages"_s;
const QString kHistoryKey = u"OWMessageHistory"_s;
// On a whole second.
const QDateTime kNow(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);

QByteArray compact(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QVariantMap entry(const QVariant& id, const QVariant& body, const QVariant& date = {}, const QVariant& mine = {})
{
    QVariantMap map {{u"id"_s, id}, {u"body"_s, body}, {u"date"_s, date}, {u"mine"_s, mine}};
    map.removeIf([](const auto& item) { return !item.value().isValid(); });
    return map;
}

class ServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_clock.setWallNow(kNow);
        m_defaults.setValue(kHoldKey, qint64(5));
        m_defaults.writes.clear();
    }

    // A reply that passes every check: this request's nonce, the clock's time, a message and a hold.
    QJsonObject validReply(const QJsonObject& request) const
    {
        return {{u"n"_s, request.value(u"n"_s)}, {u"ts"_s, m_clock.wallNow().toSecsSinceEpoch()}, {u"mid"_s, 7},
                {u"msg"_s, u"Hello"_s}, {u"tk"_s, u"open"_s}, {u"hold"_s, 12}};
    }

    // The server answers with the valid reply as changed by edit.
    void answerWith(std::function<void(QJsonObject&)> edit = [](QJsonObject&) {})
    {
        m_server.answer(u"/check"_s, [this, edit](const QJsonObject& request) {
            QJsonObject reply = validReply(request);
            edit(reply);
            return Answer {200, compact(reply)};
        });
    }

    bool checkIn(ServiceClient& client)
    {
        bool finished = false;
        client.checkWithServer([&finished] { finished = true; });
        return QTest::qWaitFor([&] { return finished; }, 5000);
    }
    bool checkIn() { return checkIn(m_client); }

    std::optional<bool> report(ServiceClient& client, const QString& text,
                               const std::optional<QString>& email = std::nullopt)
    {
        std::optional<bool> outcome;
        client.reportProblem(text, email, [&outcome](bool ok) { outcome = ok; });
        return QTest::qWaitFor([&] { return outcome.has_value(); }, 5000) ? outcome : std::nullopt;
    }

    void expectNothingApplied(const ServiceClient& client) const
    {
        EXPECT_EQ(client.ticketState(), u"none"_s);
        EXPECT_FALSE(client.pendingMessage().has_value());
        EXPECT_EQ(m_defaults.integer(kHoldKey), 5);
    }

    void expectPending(qint64 id, const QString& body) const
    {
        ASSERT_TRUE(m_client.pendingMessage().has_value());
        EXPECT_EQ(m_client.pendingMessage()->id, id);
        EXPECT_EQ(m_client.pendingMessage()->body, body);
    }

    // Makes (id, body) pending through a check-in.
    void receiveMessage(qint64 id, const QString& body, const QString& ticket = u"open"_s)
    {
        answerWith([id, body, ticket](QJsonObject& reply) {
            reply[u"mid"_s] = id;
            reply[u"msg"_s] = body;
            reply[u"tk"_s] = ticket;
        });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_client.ticketState(), ticket);
    }

    TestServer m_server;
    ow::FakeClock m_clock;
    CountingDefaults m_defaults;
    RecordingHttp m_http;
    ServiceClient m_client {m_defaults, m_http, m_clock, m_server.url(u"/check"_s), m_server.url(u"/report"_s)};
};

TEST_F(ServiceClientTest, CheckInsCarryAFreshNonceAndTheKeptDeviceId)
{
    answerWith();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(checkIn());
    const QString created = m_defaults.string(kDeviceIdKey);
    EXPECT_TRUE(QRegularExpression(u"^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s).match(created).hasMatch())
        << created.toStdString();
    EXPECT_EQ(m_http.timeouts, QList<std::chrono::milliseconds>(3, ServiceClient::kCheckTimeout));
    QSet<QString> nonces;
    for (const Received& received : m_server.received(u"/check"_s)) {
        expectWireFormat(received, {u"c"_s, u"d"_s, u"n"_s, u"os"_s, u"v"_s});
        nonces.insert(received.json.value(u"n"_s).toString());
        EXPECT_TRUE(QRegularExpression(u"^[0-9A-F]{32}$"_s).match(received.json.value(u"n"_s).toString()).hasMatch());
        EXPECT_EQ(received.json.value(u"d"_s).toString(), created);
        EXPECT_EQ(received.json.value(u"c"_s).toString(), u"direct"_s);
    }
    EXPECT_EQ(nonces.size(), 3);

    // A stored id is sent unchanged, even an empty one; a reply with no hold and no change
    // of conversation then stores nothing.
    m_defaults.setValue(kDeviceIdKey, QString());
    m_defaults.writes.clear();
    answerWith([](QJsonObject& reply) { reply.remove(u"hold"_s); });
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_server.last(u"/check"_s).value(u"d"_s), QJsonValue(QString()));
    EXPECT_EQ(m_defaults.allWrites(), 0);
}

TEST_F(ServiceClientTest, AcknowledgementIsSentOnlyForAStoredIntegerOfAtLeastOne)
{
    answerWith();
    for (const QVariant& stored : {QVariant(), QVariant(0), QVariant(qint64(-3)), QVariant(u"5"_s), QVariant(5.0),
                                   QVariant(true), QVariant(1), QVariant(qint64(4711))}) {
        if (stored.isValid())
            m_defaults.setValue(kAckKey, stored);
        ASSERT_TRUE(checkIn());
        const bool integer = stored.typeId() == QMetaType::Int || stored.typeId() == QMetaType::LongLong;
        const QJsonValue sent = m_server.last(u"/check"_s).value(u"m"_s);
        EXPECT_EQ(sent.isDouble(), integer && stored.toLongLong() >= 1) << stored.toString().toStdString();
        EXPECT_EQ(sent.toInteger(-1), sent.isDouble() ? stored.toLongLong() : -1);
    }
}

struct ReplyCase {
    const char* name;
    // The body made of a reply that would otherwise pass.
    std::function<QByteArray(QJsonObject valid)> body;
    // The hold stored afterwards; 0: the reply is dropped whole.
    qint64 hold = 0;
    int status = 200;
    // Past the whole second the clock stands on.
    qint64 clockMSecs = 0;
};

void PrintTo(const ReplyCase& reply, std::ostream* out)
{
    *out << reply.name;
}

ReplyCase edited(const char* name, std::function<void(QJsonObject&)> edit, qint64 hold = 0)
{
    return {name, [edit](QJsonObject valid) {
                edit(valid);
                return compact(valid);
            }, hold};
}

// An undefined value takes the key out.
ReplyCase withValue(const char* name, const QString& key, const QJsonValue& value, qint64 hold = 0)
{
    return edited(name, [key, value](QJsonObject& reply) { reply.insert(key, value); }, hold);
}

ReplyCase without(const char* name, const QString& key, qint64 hold = 0)
{
    return withValue(name, key, QJsonValue::Undefined, hold);
}

ReplyCase shifted(const char* name, qint64 seconds, qint64 hold, qint64 clockMSecs = 0)
{
    ReplyCase shifted = edited(name, [seconds](QJsonObject& reply) {
        reply[u"ts"_s] = reply.value(u"ts"_s).toInteger() + seconds;
    }, hold);
    shifted.clockMSecs = clockMSecs;
    return shifted;
}

// Pads the valid reply to the body limit plus extra bytes.
ReplyCase padded(const char* name, qsizetype extra, qint64 hold)
{
    return {name, [extra](QJsonObject valid) {
                valid[u"pad"_s] = QString();
                valid[u"pad"_s] = QString(ow::CheckInReply::kMaxBodyBytes + extra - compact(valid).size(), u'x');
                return compact(valid);
            }, hold};
}

ReplyCase raw(const char* name, QByteArray body)
{
    return {name, [body](QJsonObject) { return body; }};
}

const std::vector<ReplyCase> kReplies {
    edited("Valid", [](QJsonObject&) {}, 12),
    {"ServerErrorStatusWithAValidBody", [](QJsonObject valid) { return compact(valid); }, 12, 500},
    shifted("TimestampJustWithinBehind", -599, 12),
    shifted("TimestampJustWithinAhead", 599, 12),
    // The clock's fraction counts: 599.5 s either way is within, 600.5 s is not.
    shifted("FractionJustWithinBehind", -599, 12, 500),
    shifted("FractionJustWithinAhead", 600, 12, 500),
    shifted("FractionJustBeyondBehind", -600, 0, 500),
    {"WholeNumbersAsFractionsOrExponents",
     [](QJsonObject valid) {
         return uR"({"n":"%1","ts":%2.0,"mid":7.0,"msg":"Hello","tk":"open","hold":1e1})"_s
             .arg(valid.value(u"n"_s).toString())
             .arg(kNow.toSecsSinceEpoch())
             .toUtf8();
     },
     10},
    withValue("HoldAtTheLowerLimit", u"hold"_s, 1, 1),
    withValue("HoldAtTheUpperLimit", u"hold"_s, 30, 30),
    // A hold outside its rule is skipped, the rest applied.
    withValue("HoldAsString", u"hold"_s, u"10"_s, 5),
    withValue("HoldZero", u"hold"_s, 0, 5),
    withValue("HoldAboveTheLimit", u"hold"_s, 31, 5),
    withValue("HoldNegative", u"hold"_s, -1, 5),
    withValue("HoldWithAFraction", u"hold"_s, 1.5, 5),
    withValue("HoldAsBoolean", u"hold"_s, true, 5),
    withValue("HoldNull", u"hold"_s, QJsonValue::Null, 5),
    withValue("HoldAsArray", u"hold"_s, QJsonArray {10}, 5),
    without("NoHold", u"hold"_s, 5),
    padded("BodyOfExactlyTheLimit", 0, 12),

    edited("OtherNonce", [](QJsonObject& reply) { reply[u"n"_s] = u"0123456789ABCDEF0123456789ABCDEF"_s; }),
    edited("NonceInLowerCase", [](QJsonObject& reply) { reply[u"n"_s] = reply.value(u"n"_s).toString().toLower(); }),
    withValue("NonceAsNumber", u"n"_s, 12345),
    without("NoNonce", u"n"_s),
    shifted("TimestampSixHundredBehind", -600, 0),
    shifted("TimestampSixHundredAhead", 600, 0),
    shifted("TimestampADayBehind", -86400, 0),
    edited("TimestampAsString", [](QJsonObject& reply) { reply[u"ts"_s] = QString::number(reply.value(u"ts"_s).toInteger()); }),
    edited("TimestampWithAFraction", [](QJsonObject& reply) { reply[u"ts"_s] = double(reply.value(u"ts"_s).toInteger()) + 0.5; }),
    withValue("TimestampAsBoolean", u"ts"_s, true),
    withValue("TimestampBeyondInt64", u"ts"_s, 1e19),
    withValue("TimestampNull", u"ts"_s, QJsonValue::Null),
    without("NoTimestamp", u"ts"_s),
    withValue("MessageIdAsBoolean", u"mid"_s, true),
    withValue("MessageIdAsString", u"mid"_s, u"7"_s),
    withValue("MessageIdWithAFraction", u"mid"_s, 7.5),
    without("NoMessageId", u"mid"_s),
    withValue("MessageAsNumber", u"msg"_s, 5),
    withValue("MessageNull", u"msg"_s, QJsonValue::Null),
    without("NoMessage", u"msg"_s),
    withValue("TicketAsNumber", u"tk"_s, 1),
    withValue("TicketAsObject", u"tk"_s, QJsonObject {{u"state"_s, u"open"_s}}),
    without("NoTicket", u"tk"_s),
    raw("NotJson", "ok"),
    {"TruncatedJson", [](QJsonObject valid) { return compact(valid).chopped(1); }},
    {"JsonArray", [](QJsonObject valid) { return QJsonDocument(QJsonArray {valid}).toJson(); }},
    raw("EmptyBody", {}),
    padded("OneByteOverTheLimit", 1, 0),
    padded("HugeBody", 500'000, 0),
};

class ReplyTest : public ServiceClientTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, IsAppliedOrDroppedWhole)
{
    m_clock.setWallNow(kNow.addMSecs(GetParam().clockMSecs));
    m_server.answer(u"/check"_s, [this](const QJsonObject& request) {
        return Answer {GetParam().status, GetParam().body(validReply(request))};
    });
    ASSERT_TRUE(checkIn());
    if (GetParam().hold == 0) {
        expectNothingApplied(m_client);
        EXPECT_EQ(m_defaults.allWrites(), 1) << "only the new device id is stored";
        return;
    }
    EXPECT_EQ(m_client.ticketState(), u"open"_s);
    expectPending(7, u"Hello"_s);
    EXPECT_EQ(m_defaults.value(kHoldKey), QVariant(GetParam().hold));
}

INSTANTIATE_TEST_SUITE_P(CheckIn, ReplyTest, ::testing::ValuesIn(kReplies),
                         [](const ::testing::TestParamInfo<ReplyCase>& param) { return param.param.name; });

TEST_F(ServiceClientTest, UnansweredCheckInBlocksNothingAndEndsAtItsDeadline)
{
    ServiceClient refused(m_defaults, m_http, m_clock, closedPort(), closedPort());
    ASSERT_TRUE(checkIn(refused));
    expectNothingApplied(refused);

    m_server.hold(u"/check"_s);
    m_http.speedUp = 40; // 8 s become 200 ms
    bool finished = false;
    QElapsedTimer timer;
    timer.start();
    m_client.checkWithServer([&finished] { finished = true; });
    EXPECT_LT(timer.elapsed(), 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 1; }, 5000));
    EXPECT_FALSE(finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_GE(timer.elapsed(), 200);

    // An answer after the deadline comes too late.
    m_server.answerHeld(0, Answer {200, compact(validReply(m_server.heldRequest(0)))});
    QTest::qWait(100);
    expectNothingApplied(m_client);
}

// Each reply is checked against its own request's nonce; one for a client gone is dropped.
TEST_F(ServiceClientTest, OverlappingCheckInsEachApplyTheirOwnReply)
{
    m_server.hold(u"/check"_s);
    int finished = 0;
    m_client.checkWithServer([&finished] { ++finished; });
    m_client.checkWithServer([&finished] { ++finished; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 2; }, 5000));
    for (const qsizetype i : {1, 0}) {
        QJsonObject reply = validReply(m_server.heldRequest(i));
        reply[u"tk"_s] = QString::number(i);
        m_server.answerHeld(i, Answer {200, compact(reply)});
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 2 - i; }, 5000));
        EXPECT_EQ(m_client.ticketState(), QString::number(i));
    }
    auto gone = std::make_unique<ServiceClient>(m_defaults, m_http, m_clock, m_server.url(u"/check"_s), QUrl());
    gone->checkWithServer([&finished] { ++finished; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 3; }, 5000));
    gone.reset();
    m_server.answerHeld(2, Answer {200, compact(validReply(m_server.heldRequest(2)))});
    QTest::qWait(200);
    EXPECT_EQ(finished, 2);
}

TEST_F(ServiceClientTest, PendingMessageOutlivesRepliesWithoutOne)
{
    receiveMessage(7, u"Hello"_s);
    for (const auto& [id, body] : {std::pair {qint64(0), u"text"_s}, {qint64(-2), u"text"_s}, {qint64(8), QString()}}) {
        receiveMessage(id, body, u"later"_s);
        expectPending(7, u"Hello"_s);
    }
    receiveMessage(9, u"Newer"_s);
    expectPending(9, u"Newer"_s);
}

// Message 7 offered by a check-in, against what was stored before: a shown list is read whole
// or started afresh; an id already in the history, even on an entry that cannot be shown, is
// not archived twice.
struct MessageCase {
    const char* name;
    QVariantList shown;
    QVariantList history;
    bool offered = true;
};

const QDateTime kEarlier = kNow.addDays(-1);
const std::vector<MessageCase> kMessages {
    {"NothingStored", {}, {}},
    {"ShownBefore", {3, qint64(7)}, {}, false},
    {"ForeignShownList", {u"x"_s, qint64(7)}, {}},
    {"InTheHistory", {}, {entry(qint64(7), u"first time"_s, kEarlier, false)}},
    {"InTheHistoryUnshowable", {}, {entry(qint64(7), 42, kEarlier, false)}},
};

class MessageTest : public ServiceClientTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageTest, ShownMessageJoinsHistoryAndShownListOnceAndIsAcknowledged)
{
    m_defaults.setValue(kShownKey, GetParam().shown);
    m_defaults.setValue(kHistoryKey, GetParam().history);
    receiveMessage(7, u"Hello"_s);
    EXPECT_EQ(m_client.pendingMessage().has_value(), GetParam().offered);
    if (!GetParam().offered)
        return;
    m_clock.advance(90s);
    m_client.markMessageShown();
    EXPECT_FALSE(m_client.pendingMessage().has_value());
    EXPECT_EQ(m_defaults.value(kShownKey), QVariant(QVariantList {qint64(7)}));
    EXPECT_EQ(m_defaults.integer(kAckKey), 7);
    const QVariantList fresh {entry(qint64(7), u"Hello"_s, kNow.addSecs(90), false)};
    EXPECT_EQ(m_defaults.array(kHistoryKey), GetParam().history.isEmpty() ? fresh : GetParam().history);

    // Showing again, with nothing pending, writes nothing; 7 is acknowledged, not offered again.
    m_defaults.writes.clear();
    m_client.markMessageShown();
    EXPECT_EQ(m_defaults.allWrites(), 0);
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_server.last(u"/check"_s).value(u"m"_s).toInteger(), 7);
    EXPECT_FALSE(m_client.pendingMessage().has_value());
}

INSTANTIATE_TEST_SUITE_P(CheckIn, MessageTest, ::testing::ValuesIn(kMessages),
                         [](const ::testing::TestParamInfo<MessageCase>& param) { return param.param.name; });

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
    History history = m_client.messageHistory();
    ASSERT_EQ(history.size(), ServiceClient::kHistoryLimit);
    EXPECT_EQ(history.first().body, u"reply 50"_s);
    EXPECT_EQ(history.first().date, kNow.addMSecs(49'900));
    EXPECT_EQ(history.last().body, u"reply 1"_s);
    EXPECT_EQ(std::tuple(history.last().id, history.last().mine), std::tuple(-kNow.toSecsSinceEpoch(), true));

    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();
    history = m_client.messageHistory();
    ASSERT_EQ(history.size(), ServiceClient::kHistoryLimit);
    EXPECT_EQ(history.first().id, 7);
    EXPECT_EQ(history.last().body, u"reply 2"_s);
    const QVariantList stored = m_defaults.array(kShownKey);
    ASSERT_EQ(stored.size(), 50);
    EXPECT_EQ(stored.first().toLongLong(), 102);
    EXPECT_EQ(stored.last().toLongLong(), 7);
}

TEST_F(ServiceClientTest, HistoryEntriesAreReadOneByOneAndAForeignElementStartsAfresh)
{
    const QDateTime stored = kNow.addDays(-3);
    m_defaults.setValue(kHistoryKey, QVariantList {
        entry(u"1"_s, u"id as text"_s, stored, false),
        entry(qint64(2), 42, stored, false),
        entry(QVariant(), u"no id"_s, stored, false),
        entry(3, u"no date, no mine"_s),
        entry(qint64(4), u"odd date and mine"_s, u"yesterday"_s, u"true"_s),
        entry(qint64(5), u"complete"_s, stored, true),
    });
    m_clock.advance(30s);
    const History history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(std::tuple(history[0].id, history[0].date, history[0].mine), std::tuple(qint64(5), stored, true));
    for (const int i : {1, 2})
        EXPECT_EQ(std::tuple(history[i].id, history[i].date, history[i].mine),
                  std::tuple(qint64(5 - i), kNow.addSecs(30), false));

    m_defaults.setValue(kHistoryKey, QVariantList {entry(qint64(3), u"kept?"_s, kNow, false), u"stray"_s});
    EXPECT_TRUE(m_client.messageHistory().isEmpty());
    m_client.archiveOwn(u"mine"_s);
    ASSERT_EQ(m_client.messageHistory().size(), 1);
    EXPECT_EQ(m_client.messageHistory()[0].body, u"mine"_s);
}

TEST_F(ServiceClientTest, ReportIsTrueOnlyForStatus200WithOkTrue)
{
    const QList<std::tuple<int, QByteArray, bool>> cases {
        {200, R"({"ok":true})", true}, {200, R"({"ok":true,"id":12})", true}, {200, R"({"ok":false})", false},
        {201, R"({"ok":true})", false}, {204, R"({"ok":true})", false}, {500, R"({"ok":true})", false},
        {200, R"({"ok":"true"})", false}, {200, R"({"ok":1})", false}, {200, R"({})", false},
        {200, R"([{"ok":true}])", false}, {200, "ok", false}, {200, "", false},
    };
    for (const auto& [status, body, accepted] : cases) {
        m_server.answer(u"/report"_s, Answer {status, body});
        EXPECT_EQ(report(m_client, u"It broke"_s), std::optional<bool>(accepted)) << status << body.toStdString();
    }
    EXPECT_EQ(m_http.timeouts.first(), ServiceClient::kReportTimeout);

    ServiceClient refused(m_defaults, m_http, m_clock, closedPort(), closedPort());
    EXPECT_EQ(report(refused, u"text"_s), std::optional<bool>(false));
}

// Past its deadline a report is given up for good: a server that is still sending its
// acceptance sees the connection closed, so it cannot keep a report the user was told failed.
TEST_F(ServiceClientTest, ReportOutlivingItsDeadlineIsAborted)
{
    const QByteArray accepted = R"({"ok":true})" + QByteArray(100, ' ');
    RawServer slow("HTTP/1.1 200 OK\r\nContent-Length: 111\r\n\r\n" + accepted, false, 20ms);
    ServiceClient client(m_defaults, m_http, m_clock, slow.url(u"/check"_s), slow.url(u"/report"_s));
    m_http.speedUp = 50; // 10 s become 200 ms
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(report(client, u"text"_s), std::optional<bool>(false));
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(slow.accepted(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return slow.openConnections() == 0; }, 2000));
}

TEST_F(ServiceClientTest, ReportCarriesTheTextAsGivenAndTheEmailOnlyWhenNotEmpty)
{
    m_server.answer(u"/report"_s, Answer {200, R"({"ok":true})"});
    const QString text = u"  Line one\nLine two — ünïcode \"quoted\"\t "_s;
    const QList<std::optional<QString>> emails {std::nullopt, QString(), u"  "_s, u"a@b.example"_s};
    for (const std::optional<QString>& email : emails)
        ASSERT_TRUE(report(m_client, text, email).has_value());
    const QList<Received> received = m_server.received(u"/report"_s);
    ASSERT_EQ(received.size(), emails.size());
    for (qsizetype i = 0; i < received.size(); ++i) {
        expectWireFormat(received[i], i < 2 ? QStringList {u"d"_s, u"os"_s, u"text"_s, u"v"_s}
                                            : QStringList {u"d"_s, u"email"_s, u"os"_s, u"text"_s, u"v"_s});
        EXPECT_EQ(received[i].json.value(u"text"_s).toString(), text);
        EXPECT_EQ(received[i].json.value(u"d"_s).toString(), m_client.deviceId());
        EXPECT_EQ(received[i].json.value(u"email"_s).toString(), i < 2 ? QString() : *emails[i]);
    }
}

// ---- QtHttpClient ----

std::optional<HttpClient::Response> post(const QUrl& url)
{
    ow::QtHttpClient http;
    QObject context;
    std::optional<HttpClient::Response> response;
    http.post(url, "{}", 5s, &context, [&response](HttpClient::Response r) { response = std::move(r); });
    return QTest::qWaitFor([&] { return response.has_value(); }, 5000) ? response : std::nullopt;
}

TEST(QtHttpClientTest, ErrorStatusIsDeliveredAndABodyBeyondTheLimitIsNot)
{
    TestServer server;
    const QByteArray limit(ow::QtHttpClient::kMaxResponseBytes, 'x');
    const QList<std::tuple<QUrl, Answer, bool>> cases {
        {server.url(u"/check"_s), {404, "gone"}, true},
        {server.url(u"/check"_s), {200, limit}, true},
        {server.url(u"/check"_s), {200, limit + 'x'}, false},
        {closedPort(), {0, {}}, false},
    };
    for (const auto& [url, answer, delivered] : cases) {
        server.answer(u"/check"_s, answer);
        const auto response = post(url);
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(response->delivered, delivered) << answer.body.size();
        EXPECT_EQ(response->status, answer.status);
        EXPECT_EQ(response->body, delivered ? answer.body : QByteArray());
    }
}

// Servers that hold a request in each phase: before TLS is set up, before the headers,
// and while the body trickles in without ever stalling.
struct StuckCase {
    const char* name;
    QString scheme;
    QByteArray answer;
    std::chrono::milliseconds pace;
};

void PrintTo(const StuckCase& stuck, std::ostream* out)
{
    *out << stuck.name;
}

const std::vector<StuckCase> kStuck {
    {"HandshakeNeverCompletes", u"https"_s, {}, {}},
    {"NoAnswer", u"http"_s, {}, {}},
    {"AnswerTrickles", u"http"_s, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + QByteArray(100000, 'x'), 20ms},
};

class StuckServerTest : public ::testing::TestWithParam<StuckCase> {};

// More requests than Qt opens connections to one host: each ends at its own deadline,
// queued or not, and closes its connection, so the host is free for the next ones.
TEST_P(StuckServerTest, EveryRequestEndsAtItsDeadlineAndFreesItsConnection)
{
    RawServer server(GetParam().answer, false, GetParam().pace);
    const QUrl url = server.url(u"/check"_s, GetParam().scheme);
    constexpr int kRequests = 8;
    constexpr std::chrono::milliseconds kDeadline = 300ms;
    ow::QtHttpClient http;
    QObject context;
    QList<HttpClient::Response> responses;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRequests; ++i)
        http.post(url, "{}", kDeadline, &context, [&responses](HttpClient::Response r) { responses.append(r); });

    ASSERT_TRUE(QTest::qWaitFor([&] { return responses.size() == kRequests; }, 5000)) << responses.size();
    EXPECT_GE(timer.elapsed(), kDeadline.count());
    EXPECT_LT(timer.elapsed(), 3 * kDeadline.count());
    for (const HttpClient::Response& response : responses)
        EXPECT_FALSE(response.delivered);
    EXPECT_GE(server.accepted(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 2000));

    // The host answers again: the next request goes through.
    server.answerWith("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_TRUE(GetParam().scheme != u"http"_s || post(url).value_or(HttpClient::Response {}).body == "ok");
}

INSTANTIATE_TEST_SUITE_P(QtHttpClient, StuckServerTest, ::testing::ValuesIn(kStuck),
                         [](const ::testing::TestParamInfo<StuckCase>& param) { return param.param.name; });

} // namespace
