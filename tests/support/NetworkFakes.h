#pragma once

#include "ClientInfo.h"
#include "MemoryUserDefaults.h"
#include "QtHttpClient.h"

#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The real client, recording the timeouts asked for; it can run them faster than asked,
// so that a timeout of seconds takes a fraction of one.
class RecordingHttp final : public ow::HttpClient {
public:
    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout, QObject* context,
              std::function<void(Response)> done) override
    {
        timeouts.append(timeout);
        m_real.post(url, body, timeout / speedUp, context, std::move(done));
    }

    QList<std::chrono::milliseconds> timeouts;
    int speedUp = 1;

private:
    ow::QtHttpClient m_real;
};

// Counts writes, to tell a value rewritten unchanged from one left alone.
class CountingDefaults final : public ow::UserDefaults {
public:
    QVariant value(const QString& key) const override { return m_store.value(key); }
    void setValue(const QString& key, const QVariant& value) override
    {
        ++writes[key];
        m_store.setValue(key, value);
    }
    void remove(const QString& key) override
    {
        ++writes[key];
        m_store.remove(key);
    }
    int allWrites() const
    {
        int all = 0;
        for (const int count : writes)
            all += count;
        return all;
    }

    QHash<QString, int> writes;

private:
    ow::MemoryUserDefaults m_store;
};

// An address on 127.0.0.1 where nothing listens.
inline QUrl closedPort(const QString& path = QStringLiteral("/check"))
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(probe.serverPort()).arg(path));
}

struct Answer {
    int status = 200;
    QByteArray body = {};
    QByteArray location = {};
};

struct Received {
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QJsonObject json;
};

// An HTTP server on 127.0.0.1: each path answers with what its script makes of the request,
// a path set to hold keeps its requests unanswered, any other path is not found.
class TestServer {
public:
    using Script = std::function<Answer(const QJsonObject& request)>;

    TestServer()
    {
        m_server.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            const QString path = request.url().path();
            if (onRequest)
                onRequest();
            const QJsonObject json = QJsonDocument::fromJson(request.body()).object();
            m_received[path].append({request.headers(), request.body(), json});
            const auto script = m_scripts.constFind(path);
            if (script == m_scripts.cend())
                respond(responder, {404});
            else if (*script)
                respond(responder, (*script)(json));
            else
                m_held.push_back({json, std::make_unique<QHttpServerResponder>(std::move(responder))});
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    QUrl url(const QString& path, const QString& scheme = QStringLiteral("http")) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(m_port).arg(path));
    }
    void answer(const QString& path, Script script) { m_scripts.insert(path, std::move(script)); }
    void answer(const QString& path, const Answer& fixed)
    {
        answer(path, [fixed](const QJsonObject&) { return fixed; });
    }
    void hold(const QString& path) { m_scripts.insert(path, {}); }
    void forget(const QString& path) { m_scripts.remove(path); }

    QList<Received> received(const QString& path) const { return m_received.value(path); }
    qsizetype hits(const QString& path) const { return m_received.value(path).size(); }
    QJsonObject last(const QString& path) const { return m_received.value(path).value(hits(path) - 1).json; }
    // Exactly count requests arrive, and no more while the event loop runs a little longer.
    bool receives(const QString& path, qsizetype count) const
    {
        (void)QTest::qWaitFor([&] { return hits(path) >= count; }, 5000);
        return !QTest::qWaitFor([&] { return hits(path) > count; }, 300) && hits(path) == count;
    }
    qsizetype held() const { return qsizetype(m_held.size()); }
    const QJsonObject& heldRequest(qsizetype i) const { return m_held.at(std::size_t(i)).request; }
    void answerHeld(qsizetype i, const Answer& answer) { respond(*m_held.at(std::size_t(i)).responder, answer); }

    std::function<void()> onRequest;

private:
    static void respond(QHttpServerResponder& responder, const Answer& answer)
    {
        responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(answer.status));
        responder.writeHeader("Content-Type", "application/json");
        if (!answer.location.isEmpty())
            responder.writeHeader("Location", answer.location);
        // A cookie the clients must not send back.
        responder.writeHeader("Set-Cookie", "session=abc; Path=/");
        responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
        responder.writeBody(answer.body);
    }

    struct Held {
        QJsonObject request;
        std::unique_ptr<QHttpServerResponder> responder;
    };

    QHttpServer m_server;
    quint16 m_port = 0;
    QHash<QString, Script> m_scripts;
    QHash<QString, QList<Received>> m_received;
    // Declared after the server, so destroyed before it.
    std::vector<Held> m_held;
};

// Every request is form-typed compact JSON of the keys given, all of them the version and
// system beside; and Qt's own headers are all it carries: no cookie goes back.
inline void expectWireFormat(const Received& received, const QStringList& keys)
{
    static const QList<QByteArray> qtHeaders {"host", "content-type", "content-length", "connection",
                                              "accept-encoding", "accept-language", "user-agent"};
    EXPECT_EQ(received.body, QJsonDocument(received.json).toJson(QJsonDocument::Compact));
    EXPECT_EQ(received.json.keys(), keys);
    EXPECT_EQ(received.json.value(QStringLiteral("v")).toString(), ow::appVersion());
    EXPECT_EQ(received.json.value(QStringLiteral("os")).toString(), ow::osString());
    for (const auto& [name, value] : received.headers) {
        EXPECT_TRUE(qtHeaders.contains(name.toLower())) << name.toStdString();
        EXPECT_TRUE(name.toLower() != "content-type" || value == "application/x-www-form-urlencoded");
    }
}
