#include "ProcessHttpClient.h"
#include "QtHttpClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <type_traits>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::HttpClient;
using ow::ProcessHttpClient;
using ow::QtHttpClient;
using Fetch = HttpClient::Fetch;

// Every case for both clients: in this process, and through orbinwash-fetch.
template <typename Client>
class HttpClientTest : public ::testing::Test {
protected:
    static std::unique_ptr<HttpClient> client(QByteArray userAgent = {})
    {
        if constexpr (std::is_same_v<Client, ProcessHttpClient>)
            return std::make_unique<ProcessHttpClient>(QStringLiteral(FETCH_BIN), std::move(userAgent));
        else
            return std::make_unique<QtHttpClient>(std::move(userAgent));
    }
};
struct ClientName {
    template <typename Client>
    static std::string GetName(int)
    {
        return std::is_same_v<Client, ProcessHttpClient> ? "ThroughHelper" : "InProcess";
    }
};
using Clients = ::testing::Types<QtHttpClient, ProcessHttpClient>;
TYPED_TEST_SUITE(HttpClientTest, Clients, ClientName);

// An HTTP server on 127.0.0.1 that answers each whole request with the same raw bytes:
// all at once, or the head at once and then the body a byte per pace, so that it never
// goes silent. It then closes the connection or leaves it open. With no answer it stays
// silent, and stands for a TLS server whose handshake never completes too.
class WireServer {
public:
    WireServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QUrl url(const QString& path = u"/p"_s, const QString& scheme = u"http"_s) const
    {
        return QUrl(u"%1://127.0.0.1:%2%3"_s.arg(scheme).arg(m_server.serverPort()).arg(path));
    }
    int openConnections() const
    {
        int open = 0;
        for (const QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
            open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        return open;
    }

    QByteArray answer;
    bool close = true;
    std::chrono::milliseconds pace{};
    QList<QByteArray> requests; // each whole, head and body

private:
    void read(QTcpSocket* socket)
    {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        const qsizetype head = request.indexOf("\r\n\r\n");
        const QByteArray length = "\r\ncontent-length: ";
        const qsizetype at = request.toLower().indexOf(length);
        const qsizetype body = at < 0 || at > head ? 0 : request.mid(at + length.size(), 12).split('\r')[0].toLongLong();
        if (head < 0 || request.size() < head + 4 + body || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        requests.append(request);
        const qsizetype answerHead = answer.indexOf("\r\n\r\n") + 4;
        socket->write(pace.count() > 0 ? answer.left(answerHead) : answer);
        if (pace.count() > 0) {
            auto* pacer = new QTimer(socket);
            QObject::connect(pacer, &QTimer::timeout, socket, [socket, rest = answer.mid(answerHead)]() mutable {
                socket->write(rest.left(1));
                rest.remove(0, 1);
            });
            pacer->start(pace);
        } else if (close && !answer.isEmpty()) {
            socket->disconnectFromHost();
        }
    }

    QTcpServer m_server;
};

QByteArray reply(const QByteArray& status, const QByteArray& body, const QByteArray& headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + headers + "\r\n"
        + body;
}

// An address on 127.0.0.1 where nothing listens.
QUrl closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QUrl(u"http://127.0.0.1:%1/p"_s.arg(probe.serverPort()));
}

// The processes this one started that are still there, ended or not.
std::string children()
{
    QFile file(u"/proc/%1/task/%1/children"_s.arg(QCoreApplication::applicationPid()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toStdString() : "unreadable";
}

std::optional<HttpClient::Response> post(HttpClient& http, const QUrl& url, std::chrono::milliseconds timeout = 5s)
{
    QObject context;
    std::optional<HttpClient::Response> response;
    http.post(url, "a=1&b={\"c\":2}", timeout, &context, [&](HttpClient::Response r) { response = std::move(r); });
    return QTest::qWaitFor([&] { return response.has_value(); }, 5000) ? response : std::nullopt;
}

// The form type the service always saw, the body as given and the program's own name, as in
// GETs; the cookie the first server sets never goes back to the next on the same host.
TYPED_TEST(HttpClientTest, PostSendsTheFormAndDeliversEveryStatusButNotABodyBeyondTheLimitOrABrokenOne)
{
    const QByteArray limit(HttpClient::kMaxResponseBytes, 'x');
    const struct {
        const char* name;
        QByteArray answer;
        bool delivered;
        int status;
    } rows[] = {
        {"not found", reply("404 Not Found", "gone", "Set-Cookie: session=abc; Path=/\r\n"), true, 404},
        {"at the limit", reply("200 OK", limit), true, 200},
        {"beyond the limit", reply("200 OK", limit + 'x'), false, 200},
        {"cut off", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", false, 200},
        {"nobody listening", {}, false, 0},
    };
    const auto http = this->client("OrbinWash/1.2.3");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WireServer server;
        server.answer = row.answer;
        const auto response = post(*http, row.answer.isEmpty() ? closedPort() : server.url());
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(response->delivered, row.delivered);
        EXPECT_EQ(response->status, row.status);
        EXPECT_EQ(response->body, row.delivered ? row.answer.mid(row.answer.indexOf("\r\n\r\n") + 4) : QByteArray());
        EXPECT_EQ(server.requests.size(), row.answer.isEmpty() ? 0 : 1);
        for (const QByteArray& request : server.requests) {
            EXPECT_TRUE(request.startsWith("POST /p HTTP/1.1\r\n")) << request.toStdString();
            EXPECT_TRUE(request.endsWith("\r\n\r\na=1&b={\"c\":2}"));
            EXPECT_TRUE(request.toLower().contains("\r\ncontent-type: application/x-www-form-urlencoded\r\n"));
            EXPECT_TRUE(request.contains("\r\nUser-Agent: OrbinWash/1.2.3\r\n"));
            EXPECT_FALSE(request.toLower().contains("\r\ncookie:")) << request.toStdString();
        }
    }
}

// Servers that hold a post in each phase: before TLS is set up, before the headers, and
// while the body trickles in without ever stalling. More requests than Qt opens
// connections to one host: each ends at its own deadline, queued or not, and closes its
// connection, so the host is free for the next ones.
TYPED_TEST(HttpClientTest, EveryPostEndsAtItsDeadlineAndFreesItsConnection)
{
    const struct {
        const char* name;
        QString scheme;
        QByteArray answer;
        std::chrono::milliseconds pace;
    } rows[] = {
        {"handshake never completes", u"https"_s, {}, {}},
        {"no answer", u"http"_s, {}, {}},
        {"answer trickles", u"http"_s, reply("200 OK", QByteArray(100000, 'x')), 20ms},
    };
    constexpr int kRequests = 8;
    constexpr std::chrono::milliseconds kDeadline = 300ms;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WireServer server;
        server.answer = row.answer;
        server.pace = row.pace;
        const auto http = this->client();
        QObject context;
        int ended = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kRequests; ++i) {
            http->post(server.url(u"/p"_s, row.scheme), "{}", kDeadline, &context, [&ended](HttpClient::Response r) {
                ended += r.delivered ? 100 : 1;
            });
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return ended >= kRequests; }, 5000)) << ended;
        EXPECT_EQ(ended, kRequests);
        EXPECT_GE(timer.elapsed(), kDeadline.count());
        EXPECT_LT(timer.elapsed(), 3 * kDeadline.count());
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 2000));

        // The host answers again: the next request goes through.
        server.answer = reply("200 OK", "ok");
        server.pace = {};
        EXPECT_TRUE(row.scheme != u"http"_s || post(*http, server.url()).value_or(HttpClient::Response {}).body == "ok");
    }
}

// Whatever the caller does on hearing the end, here run an alert's event loop, the server
// has seen the connection closed by then: one that never answers at the deadline, one that
// answers and would keep the connection at once. Posts and GETs alike.
TYPED_TEST(HttpClientTest, TheConnectionIsClosedBeforeTheCallerHearsTheEnd)
{
    constexpr std::chrono::milliseconds kDeadline = 300ms;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const qint64 closesAfter = i < 2 ? kDeadline.count() : 0;
        WireServer server;
        server.answer = i < 2 ? QByteArray() : reply("500 Oops", "{}");
        server.close = false;
        const auto http = this->client();
        QObject context;
        QElapsedTimer timer;
        qint64 closedAt = -1;
        const auto alert = [&] {
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                closedAt = server.openConnections() == 0 ? timer.elapsed() : -1;
                if (closedAt >= 0 || timer.elapsed() > 2000)
                    loop.quit();
            });
            poll.start(5);
            loop.exec();
        };
        timer.start();
        if (i % 2)
            http->get(server.url(), 64, kDeadline, &context, [&](Fetch, QByteArray) { alert(); });
        else
            http->post(server.url(), "{}", kDeadline, &context, [&](HttpClient::Response) { alert(); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return closedAt >= 0 || timer.elapsed() > 2000; }, 5000));
        EXPECT_EQ(server.requests.size(), 1);
        EXPECT_GE(closedAt, closesAfter);
        EXPECT_LE(closedAt, closesAfter + 200);
    }
}

// Every GET ending, each through get and through download. A download replaces the file
// only when complete and leaves nothing else beside it.
TYPED_TEST(HttpClientTest, GetAndDownloadEndAsTheAnswerSays)
{
    constexpr qint64 kLimit = 64;
    constexpr std::chrono::milliseconds kSilence = 300ms;
    // Bytes, not text.
    const QByteArray full = QByteArray("p\r\n\0", 4).repeated(kLimit / 4);
    const struct {
        const char* name;
        QByteArray answer;
        Fetch end;
        bool close = true;
        std::chrono::milliseconds pace = {};
    } rows[] = {
        {"at the limit", reply("200 OK", full), Fetch::Complete},
        // Slower in all than the timeout allows for silence, and than a helper's grace.
        {"trickling", reply("200 OK", full), Fetch::Complete, true, 25ms},
        {"declared beyond the limit", "HTTP/1.1 200 OK\r\nContent-Length: 65\r\n\r\n", Fetch::Failed, false},
        {"beyond the limit, undeclared", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + full + 'p', Fetch::Failed},
        {"not found", reply("404 Not Found", "no"), Fetch::NotFound},
        {"gone", reply("410 Gone", {}), Fetch::NotFound},
        {"server error", reply("500 Internal Server Error", full), Fetch::Failed},
        {"redirected off the web", reply("302 Found", {}, "Location: file:///etc/passwd\r\n"), Fetch::Redirected},
        {"dropped", "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\npart", Fetch::Failed},
        {"stalls in the body", "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\npart", Fetch::NoConnection, false},
        {"silent", {}, Fetch::NoConnection},
        {"nobody listening", {}, Fetch::NoConnection},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"package"_s);
    const auto http = this->client("OrbinWash/1.2.3");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WireServer server;
        server.answer = row.answer;
        server.close = row.close;
        server.pace = row.pace;
        const bool listening = QByteArray(row.name) != "nobody listening";
        const QUrl url = listening ? server.url() : closedPort();
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();

        QObject context;
        std::optional<Fetch> got;
        std::optional<Fetch> saved;
        QByteArray body = "unset";
        QElapsedTimer timer;
        timer.start();
        http->get(url, kLimit, kSilence, &context, [&](Fetch end, QByteArray b) {
            got = end;
            body = b;
        });
        http->download(url, path, kLimit, kSilence, &context, [&](Fetch end) { saved = end; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return got && saved; }, 5000));
        EXPECT_EQ(got, row.end);
        EXPECT_EQ(saved, row.end);
        const bool complete = row.end == Fetch::Complete;
        const QByteArray sent = complete ? row.answer.mid(row.answer.indexOf("\r\n\r\n") + 4) : QByteArray();
        EXPECT_EQ(body, sent);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), complete ? sent : QByteArray("old"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {u"package"_s});
        // Silence is given the whole timeout.
        EXPECT_TRUE(timer.elapsed() >= kSilence.count() || row.end != Fetch::NoConnection || !listening);
        for (const QByteArray& request : server.requests) {
            EXPECT_TRUE(request.startsWith("GET /p HTTP/1.1\r\n")) << request.toStdString();
            EXPECT_TRUE(request.toLower().contains("\r\naccept-encoding: identity\r\n"));
            EXPECT_TRUE(request.contains("\r\nUser-Agent: OrbinWash/1.2.3\r\n"));
        }
    }
}

// A download that nobody waits for any more stops at once and leaves nothing, no file and
// no process; one that cannot be written ends as Failed.
TYPED_TEST(HttpClientTest, DownloadStopsWithItsContextAndFailsWhereItCannotWrite)
{
    WireServer server;
    server.answer = reply("200 OK", QByteArray(100000, 'p'));
    server.pace = 20ms;
    QTemporaryDir dir;
    const auto http = this->client();
    bool called = false;
    auto context = std::make_unique<QObject>();
    http->download(server.url(), dir.filePath(u"package"_s), 1 << 20, 5s, context.get(), [&](Fetch) { called = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 1; }, 5000));
    QTest::qWait(100);
    context.reset();
    EXPECT_EQ(children(), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(called);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    QObject alive;
    std::optional<Fetch> end;
    http->download(server.url(), dir.filePath(u"missing/package"_s), 1 << 20, 5s, &alive, [&](Fetch e) { end = e; });
    EXPECT_FALSE(end.has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return end == Fetch::Failed; }, 5000));
}

// A helper that is not there, dies in the middle of its answer, says something else or
// hangs gives no answer: promptly, or a little after the request's own timeout. The file to
// be replaced is left as it was, and no helper is left behind.
TEST(ProcessHttpClientTest, AHelperThatFailsIsNoAnswer)
{
    const struct {
        const char* name;
        QByteArray script; // none: no helper there
        std::chrono::milliseconds within;
    } rows[] = {
        {"missing", {}, 1s},
        {"dies", "printf 'h 0\\ne 8\\ncomp'; kill -9 $$", 1s},
        {"dies once it has answered", "printf 'e 9\\nnot-found'; kill -9 $$", 1s},
        {"babbles on", "exec yes '<html>'", 1s},
        {"body before the end", "printf 'b 2\\nok'", 1s},
        {"hangs", "exec sleep 60", 300ms + ProcessHttpClient::kGrace + 1s},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"package"_s);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString helper = dir.filePath(QString::fromLatin1(row.name));
        QFile script(helper);
        ASSERT_TRUE(row.script.isEmpty() || (script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n" + row.script)
                                             && script.setPermissions(QFile::ReadOwner | QFile::ExeOwner)));
        script.close();
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();

        ProcessHttpClient http(helper, {});
        QObject context;
        std::optional<HttpClient::Response> response;
        std::optional<Fetch> got;
        std::optional<Fetch> saved;
        QByteArray body = "unset";
        QElapsedTimer timer;
        timer.start();
        http.post(closedPort(), "a=1", 300ms, &context, [&](HttpClient::Response r) { response = r; });
        http.get(closedPort(), 64, 300ms, &context, [&](Fetch end, QByteArray b) {
            got = end;
            body = b;
        });
        http.download(closedPort(), path, 64, 300ms, &context, [&](Fetch end) { saved = end; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return response && got && saved; }, 5000));
        EXPECT_LT(timer.elapsed(), row.within.count());
        EXPECT_FALSE(response->delivered);
        EXPECT_EQ(response->status, 0);
        EXPECT_EQ(got, Fetch::Failed);
        EXPECT_EQ(body, QByteArray());
        EXPECT_EQ(saved, Fetch::Failed);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), "old");
        old.close();
        EXPECT_TRUE(QTest::qWaitFor([] { return children().empty(); }, 1000)) << children();
    }
}

} // namespace
