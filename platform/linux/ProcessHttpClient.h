#pragma once

#include "HttpClient.h"

#include <QObject>
#include <QString>

#include <optional>

namespace ow {

// HttpClient that runs each request in orbinwash-fetch, a process of its own that ends with
// the request, so that this one never loads the network and TLS stack. A helper that cannot
// be started, dies, prints what it should not or stops answering gives no answer: a post
// undelivered, a GET Failed, since the connection may well be fine. Requests still in flight
// when the client is destroyed are dropped without calling back, their helpers killed.
class ProcessHttpClient final : public HttpClient {
public:
    // How much longer than a request's own timeout its helper may stay silent: enough to
    // start, and to end once the request has.
    static constexpr std::chrono::milliseconds kGrace{1000};

    ProcessHttpClient(QString helperPath, QByteArray userAgent);
    ~ProcessHttpClient() override;
    ProcessHttpClient(const ProcessHttpClient&) = delete;
    ProcessHttpClient& operator=(const ProcessHttpClient&) = delete;

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
              QObject* context, std::function<void(Response)> done) override;
    void get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
             std::function<void(Fetch, QByteArray)> done) override;
    void download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                  QObject* context, std::function<void(Fetch)> done) override;

    // The helper's usual place: the running program's folder.
    static QString besideApplication();

private:
    // What the helper said: its end record and the body, if any.
    struct Answer {
        QByteArray end;
        std::optional<QByteArray> body;
    };

    // Starts the helper for verb and url, with more arguments after the common ones, and
    // input; timeout bounds its silence, or with absolute its whole run. done gets nothing
    // when the helper gave no proper answer.
    void run(const QString& verb, const QUrl& url, const QStringList& more, const QByteArray& input,
             std::chrono::milliseconds timeout, bool absolute, qint64 maxBody, QObject* context,
             std::function<void(std::optional<Answer>)> done);

    QString m_helperPath;
    QByteArray m_userAgent;
    // Parent of one helper process per request in flight.
    QObject m_requests;
};

} // namespace ow
