#pragma once

#include "HttpClient.h"

#include <QNetworkRequest>
#include <QObject>

namespace ow {

// HttpClient over Qt's network stack. Lives on the main thread; requests still in flight
// when it is destroyed are dropped without calling back.
class QtHttpClient final : public HttpClient {
public:
    // userAgent names the program to every server, in posts and GETs alike; Qt's own name
    // when empty.
    explicit QtHttpClient(QByteArray userAgent = {});

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
              QObject* context, std::function<void(Response)> done) override;
    void get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
             std::function<void(Fetch, QByteArray)> done) override;
    void download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                  QObject* context, std::function<void(Fetch)> done) override;

private:
    QNetworkRequest named(const QUrl& url) const;
    // The GET behind get and download: each chunk goes to write, which returns false to
    // end the transfer as Failed.
    void fetch(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
               std::function<bool(const QByteArray&)> write, std::function<void(Fetch)> done);

    QByteArray m_userAgent;
    // Parent of one network manager per request in flight.
    QObject m_requests;
};

} // namespace ow
