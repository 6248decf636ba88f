#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QObject;

namespace ow {

// The system's one way onto the web. Every answer comes on the main thread, once, unless
// the context given with the request is destroyed first; a GET then stops at once.
class HttpClient {
public:
    struct Response {
        bool delivered = false; // false on any transport error or timeout
        int status = 0;         // the HTTP status, 0 when there was none
        QByteArray body;
    };

    // How a GET ended, as far as a user is concerned.
    enum class Fetch {
        Complete,     // status 200 and the whole body, within its limit
        NoConnection, // no answer at all, or silence for longer than the timeout
        NotFound,     // status 404 or 410
        Redirected,   // sent on to an address not followed: from https to http, off the web, or too far
        Failed,       // anything else: another status, a body beyond the limit, a broken transfer
    };

    // Answers to posts beyond this are not delivered: the service never sends anything close.
    static constexpr qint64 kMaxResponseBytes = 1024 * 1024;

    virtual ~HttpClient() = default;

    // Posts a form-typed body. The request is given up when timeout has passed since this
    // call, whatever it is waiting for.
    virtual void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                      QObject* context, std::function<void(Response)> done) = 0;

    // GETs url into memory; the body is handed over only when Complete. A body declared or
    // grown beyond maxBytes ends the transfer. timeout is the longest silence allowed, so
    // that a slow transfer may go on as long as data keeps coming.
    virtual void get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
                     std::function<void(Fetch, QByteArray)> done) = 0;

    // As get, saving the body to path instead: the file there is replaced only when the
    // transfer is Complete, and left as it was otherwise.
    virtual void download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                          QObject* context, std::function<void(Fetch)> done) = 0;
};

} // namespace ow
