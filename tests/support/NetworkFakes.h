#pragma once

#include "MemoryUserDefaults.h"
#include "QtHttpClient.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QUrl>

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
