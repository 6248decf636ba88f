#include "CheckInReply.h"
#include "ClientInfo.h"
#include "FakeClock.h"
#include "MemoryUserDefaults.h"
#include "QtHttpClient.h"
#include "RawServer.h"
#include "RecordingHttp.h"
#include "ServiceClient.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::CheckInReply;
using ow::FakeClock;
using ow::HttpClient;
using ow::QtHttpClient;
using ow::ServiceClient;

const QRegularExpression kNonceFormat(u"^[0-9A-F]{32}$"_s);
const QRegularExpression kDeviceIdFormat(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);

const QString kDeviceIdKey = u"OWDeviceId"_s;
const QString kAckKey = u"OWAckMessage"_s;
const QString kHoldKey = u"OWHoldSeconds"_s;
const QString kShownKey = u"OWShownMessages"_s;
const QString kHistoryKey = u"OWMessageHistory"_s;

// 2026-01-01 12:00:00 UTC, on a whole second.
const QDateTime kNow(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);

QByteArray compact(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

struct Received {
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QJsonObject json;

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

struct Answer {
    int status = 200;
    QByteArray body;
    QByteArray setCookie;
};

// An HTTP server on 127.0.0.1 for /check and /report. It answers with what the script
// makes of each request, or, without a script, holds the request unanswered.
class ServiceServer {
public:
    using Script = std::function<Answer(const QJsonObject& request)>;

    ServiceServer()
    {
        for (const QString& path : {u"/check"_s, u"/report"_s}) {
            m_server.route(path, [this, path](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                Received received {request.headers(), request.body(), QJsonDocument::fromJson(request.body()).object()};
                m_received[path].append(received);
                if (!m_script) {
                    m_held.push_back({received.json, std::make_unique<QHttpServerResponder>(std::move(responder))});
                    return;
                }
                respond(responder, m_script(received.json));
            });
        }
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_port; }
    QUrl url(const QString& path) const { return QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path)); }

    void answer(Script script) { m_script = std::move(script); }
    void answer(const Answer& fixed)
    {
        m_script = [fixed](const QJsonObject&) { return fixed; };
    }
    void holdRequests() { m_script = {}; }

    const QList<Received>& received(const QString& path) const { return m_received[path]; }
    QJsonObject lastCheck() const { return m_received.value(u"/check"_s).value(m_received.value(u"/check"_s).size() - 1).json; }

    qsizetype held() const { return qsizetype(m_held.size()); }
    const QJsonObject& heldRequest(qsizetype i) const { return m_held.at(std::size_t(i)).request; }
    void answerHeld(qsizetype i, const Answer& answer) { respond(*m_held.at(std::size_t(i)).responder, answer); }

private:
    static void respond(QHttpServerResponder& responder, const Answer& answer)
    {
        responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(answer.status));
        responder.writeHeader("Content-Type", "application/json");
        if (!answer.setCookie.isEmpty())
            responder.writeHeader("Set-Cookie", answer.setCookie);
        responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
        responder.writeBody(answer.body);
    }

    struct Held {
        QJsonObject request;
        std::unique_ptr<QHttpServerResponder> responder;
    };

    QHttpServer m_server;
    quint16 m_port = 0;
    Script m_script;
    mutable QHash<QString, QList<Received>> m_received;
    // Declared after the server, so destroyed before it.
    std::vector<Held> m_held;
};

// Counts writes, to tell a value rewritten unchanged from one left alone.
class CountingDefaults final : public ow::UserDefaults {
public:
    QVariant value(const QString& key) const override { return m_store.value(key); }
    void setValue(const QString& key, const QVariant& value) override
    {
        ++writes;
        m_store.setValue(key, value);
    }
    void remove(const QString& key) override
    {
        ++writes;
        m_store.remove(key);
    }

    int writes = 0;

private:
    ow::MemoryUserDefaults m_store;
};

QVariantMap entry(const QVariant& id, const QVariant& body, const QVariant& date = {}, const QVariant& mine = {})
{
    QVariantMap map {{u"id"_s, id}, {u"body"_s, body}};
    if (date.isValid())
        map.insert(u"date"_s, date);
    if (mine.isValid())
        map.insert(u"mine"_s, mine);
    return map;
}

class ServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(m_server.port(), 0);
        m_clock.setWallNow(kNow);
        m_defaults.setValue(kHoldKey, qint64(5));
        m_defaults.writes = 0;
    }

    // A reply that passes every check: this request's nonce, the clock's time, a message
    // and a hold.
    QJsonObject validReply(const QJsonObject& request) const
    {
        return {
            {u"n"_s, request.value(u"n"_s)},
            {u"ts"_s, m_clock.wallNow().toSecsSinceEpoch()},
            {u"mid"_s, 7},
            {u"msg"_s, u"Hello"_s},
            {u"tk"_s, u"open"_s},
            {u"hold"_s, 12},
        };
    }

    // The server answers with the valid reply as changed by edit.
    void answerWith(std::function<void(QJsonObject&)> edit, int status = 200)
    {
        m_server.answer([this, edit, status](const QJsonObject& request) {
            QJsonObject reply = validReply(request);
            edit(reply);
            return Answer {status, compact(reply), {}};
        });
    }

    // One check-in, until its done has run.
    bool checkIn()
    {
        bool finished = false;
        m_client.checkWithServer([&finished] { finished = true; });
        return QTest::qWaitFor([&] { return finished; }, 5000);
    }

    std::optional<bool> report(const QString& text, const std::optional<QString>& email = std::nullopt)
    {
        std::optional<bool> outcome;
        m_client.reportProblem(text, email, [&outcome](bool ok) { outcome = ok; });
        if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 5000))
            return std::nullopt;
        return outcome;
    }

    void expectNothingApplied() const
    {
        EXPECT_EQ(m_client.ticketState(), u"none"_s);
        EXPECT_FALSE(m_client.pendingMessage().has_value());
        EXPECT_EQ(m_defaults.integer(kHoldKey), 5);
    }

    void expectValidReplyApplied() const
    {
        EXPECT_EQ(m_client.ticketState(), u"open"_s);
        ASSERT_TRUE(m_client.pendingMessage().has_value());
        EXPECT_EQ(m_client.pendingMessage()->id, 7);
        EXPECT_EQ(m_client.pendingMessage()->body, u"Hello"_s);
    }

    // Makes (id, body) pending through a check-in.
    void receiveMessage(qint64 id, const QString& body)
    {
        answerWith([id, body](QJsonObject& reply) {
            reply[u"mid"_s] = id;
            reply[u"msg"_s] = body;
        });
        ASSERT_TRUE(checkIn());
        ASSERT_TRUE(m_client.pendingMessage().has_value());
        ASSERT_EQ(m_client.pendingMessage()->id, id);
    }

    ServiceServer m_server;
    FakeClock m_clock;
    CountingDefaults m_defaults;
    RecordingHttp m_http;
    ServiceClient m_client {m_defaults, m_http, m_clock, m_server.url(u"/check"_s), m_server.url(u"/report"_s)};
};

// ---- The check-in request ----

TEST_F(ServiceClientTest, CheckInIsCompactJsonWithTheClientsFields)
{
    answerWith([](QJsonObject&) {});
    ASSERT_TRUE(checkIn());

    ASSERT_EQ(m_server.received(u"/check"_s).size(), 1);
    const Received received = m_server.received(u"/check"_s).at(0);
    EXPECT_EQ(received.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    EXPECT_EQ(received.body, compact(received.json));
    EXPECT_EQ(received.json.keys(), (QStringList {u"c"_s, u"d"_s, u"n"_s, u"os"_s, u"v"_s}));
    EXPECT_TRUE(kNonceFormat.match(received.json.value(u"n"_s).toString()).hasMatch())
        << received.json.value(u"n"_s).toString().toStdString();
    EXPECT_EQ(received.json.value(u"v"_s).toString(), ow::appVersion());
    EXPECT_EQ(received.json.value(u"os"_s).toString(), ow::osString());
    EXPECT_EQ(received.json.value(u"c"_s).toString(), u"direct"_s);
    EXPECT_EQ(m_http.timeouts, (QList<std::chrono::milliseconds> {8s}));
}

TEST_F(ServiceClientTest, RequestsCarryNoHeaderOfOurOwnAndNoCookie)
{
    m_server.answer([this](const QJsonObject& request) {
        return Answer {200, compact(validReply(request)), "session=abc; Path=/"};
    });
    ASSERT_TRUE(checkIn());
    ASSERT_TRUE(checkIn());
    ASSERT_TRUE(report(u"text"_s).has_value());

    // What Qt itself sends with every POST.
    const QSet<QByteArray> qtHeaders {"host", "content-type", "content-length", "connection", "accept-encoding",
                                      "accept-language", "user-agent"};
    QList<Received> all = m_server.received(u"/check"_s);
    all += m_server.received(u"/report"_s);
    ASSERT_EQ(all.size(), 3);
    for (const Received& received : all) {
        for (const auto& [name, value] : received.headers)
            EXPECT_TRUE(qtHeaders.contains(name.toLower())) << name.toStdString() << ": " << value.toStdString();
    }
}

TEST_F(ServiceClientTest, NonceIsFreshForEveryCheckIn)
{
    answerWith([](QJsonObject&) {});
    QSet<QString> nonces;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(checkIn());
        const QString nonce = m_server.lastCheck().value(u"n"_s).toString();
        EXPECT_TRUE(kNonceFormat.match(nonce).hasMatch()) << nonce.toStdString();
        nonces.insert(nonce);
    }
    EXPECT_EQ(nonces.size(), 3);
}

TEST_F(ServiceClientTest, DeviceIdIsCreatedOnFirstUseAndKeptAcrossCheckIns)
{
    answerWith([](QJsonObject&) {});
    ASSERT_FALSE(m_defaults.contains(kDeviceIdKey));
    ASSERT_TRUE(checkIn());
    const QString created = m_defaults.string(kDeviceIdKey);
    EXPECT_TRUE(kDeviceIdFormat.match(created).hasMatch()) << created.toStdString();
    EXPECT_EQ(m_server.lastCheck().value(u"d"_s).toString(), created);

    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_server.lastCheck().value(u"d"_s).toString(), created);
    EXPECT_EQ(m_client.deviceId(), created);
}

TEST_F(ServiceClientTest, StoredDeviceIdIsUsedUnchangedEvenWhenEmpty)
{
    m_defaults.setValue(kDeviceIdKey, u"dev-4711"_s);
    EXPECT_EQ(m_client.deviceId(), u"dev-4711"_s);

    m_defaults.setValue(kDeviceIdKey, QString());
    m_defaults.writes = 0;
    EXPECT_EQ(m_client.deviceId(), QString());
    // Without a hold or a change of conversation, a check-in has nothing to store.
    answerWith([](QJsonObject& reply) {
        reply.remove(u"hold"_s);
        reply[u"tk"_s] = u"none"_s;
    });
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_server.lastCheck().value(u"d"_s), QJsonValue(QString()));
    EXPECT_EQ(m_defaults.writes, 0);
}

TEST_F(ServiceClientTest, AcknowledgementIsSentOnlyForAStoredIntegerOfAtLeastOne)
{
    answerWith([](QJsonObject&) {});
    const QList<QVariant> notSent {QVariant(), QVariant(0), QVariant(qint64(-3)), QVariant(u"5"_s), QVariant(5.0),
                                   QVariant(true)};
    for (const QVariant& stored : notSent) {
        if (stored.isValid())
            m_defaults.setValue(kAckKey, stored);
        ASSERT_TRUE(checkIn());
        EXPECT_FALSE(m_server.lastCheck().contains(u"m"_s)) << stored.toString().toStdString();
    }
    for (const QVariant& stored : {QVariant(1), QVariant(qint64(4711))}) {
        m_defaults.setValue(kAckKey, stored);
        ASSERT_TRUE(checkIn());
        const QJsonValue sent = m_server.lastCheck().value(u"m"_s);
        EXPECT_TRUE(sent.isDouble());
        EXPECT_EQ(sent.toInteger(-1), stored.toLongLong());
    }
}

// ---- Replies that count ----

TEST_F(ServiceClientTest, ValidReplyIsApplied)
{
    answerWith([](QJsonObject&) {});
    ASSERT_TRUE(checkIn());
    expectValidReplyApplied();
    EXPECT_EQ(m_defaults.value(kHoldKey), QVariant(qint64(12)));
}

TEST_F(ServiceClientTest, ServerErrorStatusWithAValidBodyIsApplied)
{
    answerWith([](QJsonObject&) {}, 500);
    ASSERT_TRUE(checkIn());
    expectValidReplyApplied();
}

TEST_F(ServiceClientTest, TimestampWithinTheToleranceEitherWayIsAccepted)
{
    for (const qint64 offset : {-599, 599}) {
        answerWith([offset](QJsonObject& reply) {
            reply[u"ts"_s] = reply.value(u"ts"_s).toInteger() + offset;
            reply[u"tk"_s] = QString::number(offset);
        });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_client.ticketState(), QString::number(offset));
    }
}

TEST_F(ServiceClientTest, TheClocksFractionCounts)
{
    // Half a second past a whole second: 599.5 s either way is still within tolerance.
    m_clock.setWallNow(kNow.addMSecs(500));
    for (const qint64 offset : {-599, 600}) {
        answerWith([offset](QJsonObject& reply) {
            reply[u"ts"_s] = kNow.toSecsSinceEpoch() + offset;
            reply[u"tk"_s] = QString::number(offset);
        });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_client.ticketState(), QString::number(offset));
    }
    // And 600.5 s behind is not.
    answerWith([](QJsonObject& reply) {
        reply[u"ts"_s] = kNow.toSecsSinceEpoch() - 600;
        reply[u"tk"_s] = u"late"_s;
    });
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_client.ticketState(), u"600"_s);
}

TEST_F(ServiceClientTest, WholeNumbersWrittenAsFractionsOrExponentsAreIntegers)
{
    m_server.answer([](const QJsonObject& request) {
        const QString body = uR"({"n":"%1","ts":%2.0,"mid":7.0,"msg":"Hello","tk":"open","hold":1e1})"_s
                                 .arg(request.value(u"n"_s).toString())
                                 .arg(kNow.toSecsSinceEpoch());
        return Answer {200, body.toUtf8(), {}};
    });
    ASSERT_TRUE(checkIn());
    expectValidReplyApplied();
    EXPECT_EQ(m_defaults.integer(kHoldKey), 10);
}

TEST_F(ServiceClientTest, HoldAtEitherLimitIsStoredAsAnInteger)
{
    for (const int hold : {1, 30}) {
        answerWith([hold](QJsonObject& reply) { reply[u"hold"_s] = hold; });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_defaults.integer(kHoldKey), hold);
    }
}

TEST_F(ServiceClientTest, HoldOutsideItsRuleIsSkippedButTheRestIsApplied)
{
    const QList<QJsonValue> holds {u"10"_s, 0, 31, -1, 1.5, true, QJsonValue::Null, QJsonArray {10}};
    for (const QJsonValue& hold : holds) {
        const QString label = QString::fromUtf8(compact({{u"hold"_s, hold}}));
        answerWith([hold, label](QJsonObject& reply) {
            reply[u"hold"_s] = hold;
            reply[u"tk"_s] = label;
        });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_client.ticketState(), label);
        EXPECT_EQ(m_defaults.value(kHoldKey), QVariant(qint64(5))) << label.toStdString();
        EXPECT_TRUE(m_client.pendingMessage().has_value());
    }
}

TEST_F(ServiceClientTest, AbsentHoldLeavesTheStoredOne)
{
    answerWith([](QJsonObject& reply) { reply.remove(u"hold"_s); });
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_client.ticketState(), u"open"_s);
    EXPECT_EQ(m_defaults.value(kHoldKey), QVariant(qint64(5)));
}

TEST_F(ServiceClientTest, BodyOfExactlyTheLimitIsRead)
{
    m_server.answer([this](const QJsonObject& request) {
        QJsonObject reply = validReply(request);
        reply[u"pad"_s] = QString();
        const qsizetype missing = CheckInReply::kMaxBodyBytes - compact(reply).size();
        reply[u"pad"_s] = QString(missing, u'x');
        return Answer {200, compact(reply), {}};
    });
    ASSERT_TRUE(checkIn());
    expectValidReplyApplied();
}

// ---- Replies that are dropped whole ----

struct RejectedCase {
    const char* name;
    // The body made of a reply that would otherwise pass.
    std::function<QByteArray(QJsonObject valid)> body;
};

void PrintTo(const RejectedCase& rejected, std::ostream* out)
{
    *out << rejected.name;
}

RejectedCase edited(const char* name, std::function<void(QJsonObject&)> edit)
{
    return {name, [edit](QJsonObject valid) {
                edit(valid);
                return compact(valid);
            }};
}

RejectedCase withValue(const char* name, const QString& key, const QJsonValue& value)
{
    return edited(name, [key, value](QJsonObject& reply) { reply[key] = value; });
}

RejectedCase without(const char* name, const QString& key)
{
    return edited(name, [key](QJsonObject& reply) { reply.remove(key); });
}

RejectedCase shifted(const char* name, qint64 seconds)
{
    return edited(name, [seconds](QJsonObject& reply) {
        reply[u"ts"_s] = reply.value(u"ts"_s).toInteger() + seconds;
    });
}

const std::vector<RejectedCase> kRejected {
    edited("OtherNonce", [](QJsonObject& reply) { reply[u"n"_s] = u"0123456789ABCDEF0123456789ABCDEF"_s; }),
    edited("NonceInLowerCase", [](QJsonObject& reply) { reply[u"n"_s] = reply.value(u"n"_s).toString().toLower(); }),
    withValue("NonceAsNumber", u"n"_s, 12345),
    without("NoNonce", u"n"_s),
    shifted("TimestampSixHundredBehind", -600),
    shifted("TimestampSixHundredAhead", 600),
    shifted("TimestampADayBehind", -86400),
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
    {"NotJson", [](QJsonObject) { return QByteArray("ok"); }},
    {"TruncatedJson", [](QJsonObject valid) { return compact(valid).chopped(1); }},
    {"JsonArray", [](QJsonObject valid) { return QJsonDocument(QJsonArray {valid}).toJson(); }},
    {"EmptyBody", [](QJsonObject) { return QByteArray(); }},
    {"OneByteOverTheLimit",
     [](QJsonObject valid) {
         valid[u"pad"_s] = QString();
         valid[u"pad"_s] = QString(CheckInReply::kMaxBodyBytes + 1 - compact(valid).size(), u'x');
         return compact(valid);
     }},
    {"HugeBody",
     [](QJsonObject valid) {
         valid[u"pad"_s] = QString(500'000, u'x');
         return compact(valid);
     }},
};

class RejectedReplyTest : public ServiceClientTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedReplyTest, ChangesNothing)
{
    m_server.answer([this](const QJsonObject& request) {
        return Answer {200, GetParam().body(validReply(request)), {}};
    });
    ASSERT_TRUE(checkIn());
    expectNothingApplied();
    EXPECT_EQ(m_defaults.writes, 1) << "only the new device id is stored";
}

INSTANTIATE_TEST_SUITE_P(CheckIn, RejectedReplyTest, ::testing::ValuesIn(kRejected),
                         [](const ::testing::TestParamInfo<RejectedCase>& param) { return param.param.name; });

// ---- When the server is not there ----

QUrl closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QUrl url(u"http://127.0.0.1:%1/check"_s.arg(probe.serverPort()));
    probe.close();
    return url;
}

TEST_F(ServiceClientTest, RefusedConnectionChangesNothing)
{
    ServiceClient client(m_defaults, m_http, m_clock, closedPort(), closedPort());
    bool finished = false;
    client.checkWithServer([&finished] { finished = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_EQ(client.ticketState(), u"none"_s);
    EXPECT_FALSE(client.pendingMessage().has_value());
    EXPECT_EQ(m_defaults.integer(kHoldKey), 5);
}

TEST_F(ServiceClientTest, UnansweredCheckInBlocksNothingAndEndsAtItsTimeout)
{
    m_http.speedUp = 40; // 8 s become 200 ms
    m_server.holdRequests();
    bool finished = false;
    QElapsedTimer timer;
    timer.start();
    m_client.checkWithServer([&finished] { finished = true; });
    EXPECT_LT(timer.elapsed(), 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 1; }, 5000));
    EXPECT_FALSE(finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_GE(timer.elapsed(), 200);
    EXPECT_EQ(m_http.timeouts, (QList<std::chrono::milliseconds> {8s}));

    // An answer after the timeout comes too late.
    m_server.answerHeld(0, Answer {200, compact(validReply(m_server.heldRequest(0))), {}});
    QTest::qWait(100);
    expectNothingApplied();
}

TEST_F(ServiceClientTest, OverlappingCheckInsEachApplyTheirOwnReply)
{
    m_server.holdRequests();
    int finished = 0;
    m_client.checkWithServer([&finished] { ++finished; });
    m_client.checkWithServer([&finished] { ++finished; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 2; }, 5000));

    auto replyTo = [this](qsizetype i, qint64 id, const QString& ticket) {
        QJsonObject reply = validReply(m_server.heldRequest(i));
        reply[u"mid"_s] = id;
        reply[u"tk"_s] = ticket;
        return Answer {200, compact(reply), {}};
    };
    m_server.answerHeld(1, replyTo(1, 8, u"second"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 5000));
    EXPECT_EQ(m_client.ticketState(), u"second"_s);
    m_server.answerHeld(0, replyTo(0, 9, u"first"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 2; }, 5000));
    EXPECT_EQ(m_client.ticketState(), u"first"_s);
    EXPECT_EQ(m_client.pendingMessage()->id, 9);
}

TEST_F(ServiceClientTest, ClientDestroyedMidCheckInIsLeftAlone)
{
    m_server.holdRequests();
    auto client = std::make_unique<ServiceClient>(m_defaults, m_http, m_clock, m_server.url(u"/check"_s),
                                                  m_server.url(u"/report"_s));
    bool finished = false;
    client->checkWithServer([&finished] { finished = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 1; }, 5000));
    client.reset();
    m_server.answerHeld(0, Answer {200, compact(validReply(m_server.heldRequest(0))), {}});
    QTest::qWait(200);
    EXPECT_FALSE(finished);
}

// ---- Which message is offered ----

TEST_F(ServiceClientTest, MessageAlreadyShownIsNotOffered)
{
    m_defaults.setValue(kShownKey, QVariantList {3, qint64(7)});
    answerWith([](QJsonObject&) {});
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_client.ticketState(), u"open"_s);
    EXPECT_EQ(m_defaults.integer(kHoldKey), 12);
    EXPECT_FALSE(m_client.pendingMessage().has_value());
}

TEST_F(ServiceClientTest, ShownListWithAForeignElementCountsAsEmpty)
{
    m_defaults.setValue(kShownKey, QVariantList {qint64(7), u"8"_s});
    answerWith([](QJsonObject&) {});
    ASSERT_TRUE(checkIn());
    expectValidReplyApplied();
}

TEST_F(ServiceClientTest, PendingMessageOutlivesRepliesWithoutOne)
{
    receiveMessage(7, u"Hello"_s);
    const QList<std::pair<qint64, QString>> empty {{0, u"text"_s}, {-2, u"text"_s}, {8, QString()}};
    for (const auto& [id, body] : empty) {
        answerWith([id, body](QJsonObject& reply) {
            reply[u"mid"_s] = id;
            reply[u"msg"_s] = body;
            reply[u"tk"_s] = u"later"_s;
        });
        ASSERT_TRUE(checkIn());
        EXPECT_EQ(m_client.ticketState(), u"later"_s);
        ASSERT_TRUE(m_client.pendingMessage().has_value());
        EXPECT_EQ(m_client.pendingMessage()->id, 7);
        EXPECT_EQ(m_client.pendingMessage()->body, u"Hello"_s);
    }
    receiveMessage(9, u"Newer"_s);
    EXPECT_EQ(m_client.pendingMessage()->body, u"Newer"_s);
}

// ---- Showing a message ----

TEST_F(ServiceClientTest, ShownMessageJoinsHistoryAndShownListAndIsAcknowledged)
{
    receiveMessage(7, u"Hello"_s);
    m_clock.advance(90s);
    m_client.markMessageShown();

    EXPECT_FALSE(m_client.pendingMessage().has_value());
    EXPECT_EQ(m_defaults.value(kShownKey), QVariant(QVariantList {qint64(7)}));
    EXPECT_EQ(m_defaults.integer(kAckKey), 7);
    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history[0].id, 7);
    EXPECT_EQ(history[0].body, u"Hello"_s);
    EXPECT_EQ(history[0].date, kNow.addSecs(90));
    EXPECT_FALSE(history[0].mine);

    // Acknowledged from now on, and not offered again.
    answerWith([](QJsonObject&) {});
    ASSERT_TRUE(checkIn());
    EXPECT_EQ(m_server.lastCheck().value(u"m"_s).toInteger(), 7);
    EXPECT_FALSE(m_client.pendingMessage().has_value());
}

TEST_F(ServiceClientTest, MessageAlreadyInTheHistoryIsNotArchivedTwice)
{
    const QDateTime earlier = kNow.addDays(-1);
    m_defaults.setValue(kHistoryKey, QVariantList {entry(qint64(7), u"Hello, first time"_s, earlier, false)});
    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();

    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history[0].body, u"Hello, first time"_s);
    EXPECT_EQ(history[0].date, earlier);
    EXPECT_EQ(m_defaults.value(kShownKey), QVariant(QVariantList {qint64(7)}));
    EXPECT_EQ(m_defaults.integer(kAckKey), 7);
    EXPECT_FALSE(m_client.pendingMessage().has_value());
}

TEST_F(ServiceClientTest, ShownListKeepsTheLastFifty)
{
    QVariantList shown;
    for (qint64 id = 101; id <= 150; ++id)
        shown.append(id);
    m_defaults.setValue(kShownKey, shown);
    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();

    const QVariantList stored = m_defaults.array(kShownKey);
    ASSERT_EQ(stored.size(), 50);
    EXPECT_EQ(stored.first().toLongLong(), 102);
    EXPECT_EQ(stored.last().toLongLong(), 7);
}

TEST_F(ServiceClientTest, UnreadableShownListIsStartedAfresh)
{
    m_defaults.setValue(kShownKey, QVariantList {u"x"_s, qint64(3)});
    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();
    EXPECT_EQ(m_defaults.value(kShownKey), QVariant(QVariantList {qint64(7)}));
}

TEST_F(ServiceClientTest, ShowingWithNothingPendingWritesNothing)
{
    m_defaults.setValue(kShownKey, QVariantList {qint64(3)});
    m_defaults.setValue(kAckKey, qint64(3));
    m_defaults.writes = 0;
    m_client.markMessageShown();
    EXPECT_EQ(m_defaults.writes, 0);
    EXPECT_FALSE(m_defaults.contains(kHistoryKey));
    EXPECT_EQ(m_defaults.integer(kAckKey), 3);
}

TEST_F(ServiceClientTest, ServerMessageAsFiftyFirstEntryDropsTheOldest)
{
    for (int i = 0; i < 50; ++i) {
        m_client.archiveOwn(u"reply %1"_s.arg(i));
        m_clock.advance(1s);
    }
    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();

    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 50);
    EXPECT_EQ(history.first().id, 7);
    EXPECT_EQ(history.last().body, u"reply 1"_s);
}

// ---- The history ----

TEST_F(ServiceClientTest, OwnRepliesAreNewestFirstAndTheFiftyFirstDropsTheOldest)
{
    for (int i = 0; i < 51; ++i) {
        m_client.archiveOwn(u"reply %1"_s.arg(i));
        m_clock.advance(1s);
    }
    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 50);
    EXPECT_EQ(history.first().body, u"reply 50"_s);
    EXPECT_EQ(history.first().date, kNow.addSecs(50));
    EXPECT_EQ(history.last().body, u"reply 1"_s);
    EXPECT_EQ(m_defaults.array(kHistoryKey).size(), 50);
}

TEST_F(ServiceClientTest, TwoOwnRepliesInOneSecondAreBothKept)
{
    // The id is minus the whole seconds, cut off rather than rounded.
    m_clock.setWallNow(kNow.addMSecs(100));
    m_client.archiveOwn(u"first"_s);
    m_clock.advance(800ms);
    m_client.archiveOwn(u"second"_s);

    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[0].body, u"second"_s);
    EXPECT_EQ(history[1].body, u"first"_s);
    for (const ServiceClient::ArchivedMessage& message : history) {
        EXPECT_EQ(message.id, -kNow.toSecsSinceEpoch());
        EXPECT_TRUE(message.mine);
    }
    EXPECT_EQ(history[0].date, kNow.addMSecs(900));
}

TEST_F(ServiceClientTest, HistoryWithAForeignElementReadsEmptyAndIsStartedAfresh)
{
    m_defaults.setValue(kHistoryKey, QVariantList {entry(qint64(3), u"kept?"_s, kNow, false), u"stray"_s});
    EXPECT_TRUE(m_client.messageHistory().isEmpty());

    m_client.archiveOwn(u"mine"_s);
    ASSERT_EQ(m_defaults.array(kHistoryKey).size(), 1);
    ASSERT_EQ(m_client.messageHistory().size(), 1);
    EXPECT_EQ(m_client.messageHistory()[0].body, u"mine"_s);
}

TEST_F(ServiceClientTest, HistoryEntriesAreReadOneByOne)
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

    const QList<ServiceClient::ArchivedMessage> history = m_client.messageHistory();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(history[0].id, 5);
    EXPECT_EQ(history[0].date, stored);
    EXPECT_TRUE(history[0].mine);
    EXPECT_EQ(history[1].id, 4);
    EXPECT_EQ(history[1].date, kNow.addSecs(30));
    EXPECT_FALSE(history[1].mine);
    EXPECT_EQ(history[2].id, 3);
    EXPECT_EQ(history[2].body, u"no date, no mine"_s);
    EXPECT_EQ(history[2].date, kNow.addSecs(30));
    EXPECT_FALSE(history[2].mine);
}

TEST_F(ServiceClientTest, ServerIdMatchingASkippedEntryIsStillNotArchivedTwice)
{
    // The entry cannot be shown (its body is not text), yet its id is taken.
    m_defaults.setValue(kHistoryKey, QVariantList {entry(qint64(7), 42, kNow, false)});
    receiveMessage(7, u"Hello"_s);
    m_client.markMessageShown();
    EXPECT_EQ(m_defaults.array(kHistoryKey).size(), 1);
    EXPECT_TRUE(m_client.messageHistory().isEmpty());
}

// ---- Problem reports ----

TEST_F(ServiceClientTest, ReportIsTrueOnlyForStatus200WithOkTrue)
{
    struct Case {
        int status;
        QByteArray body;
        bool accepted;
    };
    const QList<Case> cases {
        {200, R"({"ok":true})", true},
        {200, R"({"ok":true,"id":12})", true},
        {200, R"({"ok":false})", false},
        {201, R"({"ok":true})", false},
        {204, R"({"ok":true})", false},
        {500, R"({"ok":true})", false},
        {200, R"({"ok":"true"})", false},
        {200, R"({"ok":1})", false},
        {200, R"({})", false},
        {200, R"([{"ok":true}])", false},
        {200, "ok", false},
        {200, "", false},
    };
    for (const Case& c : cases) {
        m_server.answer(Answer {c.status, c.body, {}});
        EXPECT_EQ(report(u"It broke"_s), std::optional<bool>(c.accepted)) << c.status << " " << c.body.toStdString();
    }
    EXPECT_EQ(m_http.timeouts.first(), 10s);
}

TEST_F(ServiceClientTest, ReportToAnUnreachableOrSilentServerIsFalse)
{
    ServiceClient unreachable(m_defaults, m_http, m_clock, closedPort(), closedPort());
    std::optional<bool> outcome;
    unreachable.reportProblem(u"text"_s, std::nullopt, [&outcome](bool ok) { outcome = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 5000));
    EXPECT_FALSE(*outcome);

    m_http.speedUp = 50; // 10 s become 200 ms
    m_server.holdRequests();
    EXPECT_EQ(report(u"text"_s), std::optional<bool>(false));
    EXPECT_EQ(m_server.held(), 1);
}

// Past its deadline a report is given up for good: a server that is still sending its
// acceptance sees the connection closed, so it cannot keep a report the user was told failed.
TEST_F(ServiceClientTest, ReportOutlivingItsDeadlineIsAborted)
{
    const QByteArray accepted = R"({"ok":true})" + QByteArray(100, ' ');
    RawServer slow("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(accepted.size()) + "\r\n\r\n"
                       + accepted,
                   false, 20ms);
    ServiceClient client(m_defaults, m_http, m_clock, slow.url(u"/check"_s), slow.url(u"/report"_s));
    m_http.speedUp = 50; // 10 s become 200 ms
    std::optional<bool> outcome;
    QElapsedTimer timer;
    timer.start();
    client.reportProblem(u"text"_s, std::nullopt, [&outcome](bool ok) { outcome = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 5000));
    EXPECT_FALSE(*outcome);
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(slow.accepted(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return slow.openConnections() == 0; }, 2000));
}

TEST_F(ServiceClientTest, ReportCarriesTheTextAsGivenAndTheEmailOnlyWhenNotEmpty)
{
    m_server.answer(Answer {200, R"({"ok":true})", {}});
    const QString text = u"  Line one\nLine two — ünïcode \"quoted\"\t "_s;
    ASSERT_TRUE(report(text).has_value());
    ASSERT_TRUE(report(text, QString()).has_value());
    ASSERT_TRUE(report(text, u"  "_s).has_value());
    ASSERT_TRUE(report(text, u"a@b.example"_s).has_value());

    const QList<Received> received = m_server.received(u"/report"_s);
    ASSERT_EQ(received.size(), 4);
    for (const Received& r : received) {
        EXPECT_EQ(r.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        EXPECT_EQ(r.body, compact(r.json));
        EXPECT_EQ(r.json.value(u"text"_s).toString(), text);
        EXPECT_EQ(r.json.value(u"d"_s).toString(), m_client.deviceId());
        EXPECT_EQ(r.json.value(u"v"_s).toString(), ow::appVersion());
        EXPECT_EQ(r.json.value(u"os"_s).toString(), ow::osString());
    }
    const QStringList bare {u"d"_s, u"os"_s, u"text"_s, u"v"_s};
    EXPECT_EQ(received[0].json.keys(), bare);
    EXPECT_EQ(received[1].json.keys(), bare);
    EXPECT_EQ(received[2].json.value(u"email"_s), QJsonValue(u"  "_s));
    EXPECT_EQ(received[3].json.value(u"email"_s), QJsonValue(u"a@b.example"_s));
    EXPECT_TRUE(kDeviceIdFormat.match(m_client.deviceId()).hasMatch());
}

// ---------------------------------------------------------------------------------------
// QtHttpClient

class QtHttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_server.port(), 0); }

    std::optional<HttpClient::Response> post(const QUrl& url, std::chrono::milliseconds timeout = 5s)
    {
        std::optional<HttpClient::Response> response;
        QObject context;
        m_http.post(url, "{}", timeout, &context, [&response](HttpClient::Response r) { response = std::move(r); });
        if (!QTest::qWaitFor([&] { return response.has_value(); }, 5000))
            return std::nullopt;
        return response;
    }

    ServiceServer m_server;
    QtHttpClient m_http;
};

TEST_F(QtHttpClientTest, ErrorStatusIsDeliveredWithItsBody)
{
    m_server.answer(Answer {404, "gone", {}});
    const auto response = post(m_server.url(u"/check"_s));
    ASSERT_TRUE(response.has_value());
    EXPECT_TRUE(response->delivered);
    EXPECT_EQ(response->status, 404);
    EXPECT_EQ(response->body, QByteArray("gone"));
}

TEST_F(QtHttpClientTest, BodyUpToTheLimitIsDeliveredAndBeyondItNot)
{
    const QByteArray limit(QtHttpClient::kMaxResponseBytes, 'x');
    m_server.answer(Answer {200, limit, {}});
    auto response = post(m_server.url(u"/check"_s));
    ASSERT_TRUE(response.has_value());
    EXPECT_TRUE(response->delivered);
    EXPECT_EQ(response->body.size(), limit.size());

    m_server.answer(Answer {200, limit + 'x', {}});
    response = post(m_server.url(u"/check"_s));
    ASSERT_TRUE(response.has_value());
    EXPECT_FALSE(response->delivered);
    EXPECT_TRUE(response->body.isEmpty());
}

TEST_F(QtHttpClientTest, RefusedConnectionIsNotDelivered)
{
    const auto response = post(closedPort());
    ASSERT_TRUE(response.has_value());
    EXPECT_FALSE(response->delivered);
    EXPECT_EQ(response->status, 0);
}

TEST_F(QtHttpClientTest, SilentServerIsGivenUpAfterTheTimeout)
{
    m_server.holdRequests();
    QElapsedTimer timer;
    timer.start();
    const auto response = post(m_server.url(u"/check"_s), 300ms);
    ASSERT_TRUE(response.has_value());
    EXPECT_FALSE(response->delivered);
    EXPECT_GE(timer.elapsed(), 300);
    EXPECT_EQ(m_server.held(), 1);
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
    {"AnswerTrickles", u"http"_s, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + QByteArray(100000, 'x'),
     20ms},
};

class StuckServerTest : public QtHttpClientTest, public ::testing::WithParamInterface<StuckCase> {};

// More requests than Qt opens connections to one host: each ends at its own deadline,
// queued or not, and closes its connection, so the host is free for the next ones.
TEST_P(StuckServerTest, EveryRequestEndsAtItsDeadlineAndFreesItsConnection)
{
    RawServer server(GetParam().answer, false, GetParam().pace);
    const QUrl url = server.url(u"/check"_s, GetParam().scheme);
    constexpr int kRequests = 8;
    constexpr std::chrono::milliseconds kDeadline = 300ms;
    QObject context;
    QList<HttpClient::Response> responses;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRequests; ++i)
        m_http.post(url, "{}", kDeadline, &context, [&responses](HttpClient::Response r) { responses.append(r); });

    ASSERT_TRUE(QTest::qWaitFor([&] { return responses.size() == kRequests; }, 5000)) << responses.size();
    EXPECT_GE(timer.elapsed(), kDeadline.count());
    EXPECT_LT(timer.elapsed(), 3 * kDeadline.count());
    for (const HttpClient::Response& response : responses)
        EXPECT_FALSE(response.delivered);
    EXPECT_GE(server.accepted(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 2000)) << server.openConnections() << " of " << server.accepted();

    // The host answers again: the next request goes through.
    server.answerWith("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    if (GetParam().scheme == u"http"_s) {
        const auto response = post(url);
        ASSERT_TRUE(response.has_value());
        EXPECT_TRUE(response->delivered);
        EXPECT_EQ(response->body, QByteArray("ok"));
    }
}

INSTANTIATE_TEST_SUITE_P(QtHttpClient, StuckServerTest, ::testing::ValuesIn(kStuck),
                         [](const ::testing::TestParamInfo<StuckCase>& param) { return param.param.name; });

TEST_F(QtHttpClientTest, NoAnswerReachesADestroyedContext)
{
    m_server.holdRequests();
    bool called = false;
    auto context = std::make_unique<QObject>();
    m_http.post(m_server.url(u"/check"_s), "{}", 5s, context.get(), [&called](HttpClient::Response) { called = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.held() == 1; }, 5000));
    context.reset();
    m_server.answerHeld(0, Answer {200, "{}", {}});
    QTest::qWait(200);
    EXPECT_FALSE(called);

    // The client still works afterwards.
    m_server.answer(Answer {200, "{}", {}});
    EXPECT_TRUE(post(m_server.url(u"/check"_s)).has_value());
}

} // namespace
