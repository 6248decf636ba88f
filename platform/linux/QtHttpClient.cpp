#include "QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

#include <memory>

namespace ow {

namespace {

// Statuses such as 404 or 500 come as errors too, yet they are answers. Connection,
// timeout and proxy errors (all below the content class) and protocol failures mean the
// answer did not arrive whole.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        || error == QNetworkReply::ProtocolFailure;
}

// A manager of its own, gone with the request: a connection Qt keeps for a host, one whose
// TLS handshake never completes for instance, cannot hold up later requests. Ending the
// request ends its manager and with it the connection, so the server sees it given up.
// conclude reads the ended reply and returns what to tell the caller; that is told from the
// event loop once the manager is gone, since a caller may run an alert's event loop, where
// a deferred deletion would wait until the alert is closed. Nothing is told once context
// is gone; the manager goes all the same.
QNetworkReply* send(QObject* parent, QObject* context, const std::function<QNetworkReply*(QNetworkAccessManager&)>& start,
                    std::function<std::function<void()>(QNetworkReply*)> conclude)
{
    auto* manager = new QNetworkAccessManager(parent);
    QNetworkReply* reply = start(*manager);
    QObject::connect(reply, &QNetworkReply::finished, manager,
                     [parent, manager, reply, context = QPointer(context), conclude = std::move(conclude)] {
                         std::function<void()> tell = context ? conclude(reply) : std::function<void()>();
                         QMetaObject::invokeMethod(
                             parent,
                             [manager = QPointer(manager), context, tell = std::move(tell)] {
                                 delete manager.data();
                                 if (context && tell)
                                     tell();
                             },
                             Qt::QueuedConnection);
                     });
    return reply;
}

QTimer* preciseTimer(QNetworkReply* reply, std::chrono::milliseconds interval)
{
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    timer->start();
    return timer;
}

} // namespace

QtHttpClient::QtHttpClient(QByteArray userAgent)
    : m_userAgent(std::move(userAgent))
{
}

void QtHttpClient::post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                        QObject* context, std::function<void(Response)> done)
{
    QNetworkRequest request = named(url);
    // Named, since Qt warns about a body without one; this is the type Qt and other HTTP
    // stacks fall back to, so the service sees what it always saw.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // The body is all the service gets to know: no cookies go back to it.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    auto tooLarge = std::make_shared<bool>(false);
    QNetworkReply* reply = send(
        &m_requests, context, [&](QNetworkAccessManager& manager) { return manager.post(request, body); },
        [tooLarge, done = std::move(done)](QNetworkReply* ended) -> std::function<void()> {
            const QVariant status = ended->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            Response response;
            response.status = status.isValid() ? status.toInt() : 0;
            response.delivered = status.isValid() && !*tooLarge && !isTransportError(ended->error());
            if (response.delivered)
                response.body = ended->readAll();
            return [done, response = std::move(response)] { done(response); };
        });
    // The whole request ends at its deadline, whatever phase it is in (waiting for a
    // connection, connecting, the TLS handshake, headers, body). Qt's transfer timeout
    // counts only silence while data flows, so a handshake that never completes or a
    // trickling answer would go on indefinitely.
    QObject::connect(preciseTimer(reply, timeout), &QTimer::timeout, reply, &QNetworkReply::abort);
    // Stops reading as soon as the answer is too large, rather than holding all of it.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, tooLarge] {
        if (reply->bytesAvailable() > kMaxResponseBytes) {
            *tooLarge = true;
            reply->abort();
        }
    });
}

void QtHttpClient::get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
                       std::function<void(Fetch, QByteArray)> done)
{
    auto body = std::make_shared<QByteArray>();
    fetch(
        url, maxBytes, timeout, context,
        [body](const QByteArray& chunk) {
            *body += chunk;
            return true;
        },
        [body, done = std::move(done)](Fetch end) { done(end, end == Fetch::Complete ? *body : QByteArray()); });
}

void QtHttpClient::download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                            QObject* context, std::function<void(Fetch)> done)
{
    // Replaces the file only on commit; destroyed without one, it leaves no trace.
    auto file = std::make_shared<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        QMetaObject::invokeMethod(context, [done = std::move(done)] { done(Fetch::Failed); }, Qt::QueuedConnection);
        return;
    }
    fetch(
        url, maxBytes, timeout, context,
        [file](const QByteArray& chunk) { return file->write(chunk) == chunk.size(); },
        [file, done = std::move(done)](Fetch end) {
            if (end == Fetch::Complete && !file->commit())
                end = Fetch::Failed;
            else if (end != Fetch::Complete)
                file->cancelWriting();
            done(end);
        });
}

QNetworkRequest QtHttpClient::named(const QUrl& url) const
{
    QNetworkRequest request(url);
    if (!m_userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    return request;
}

void QtHttpClient::fetch(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
                         std::function<bool(const QByteArray&)> write, std::function<void(Fetch)> done)
{
    QNetworkRequest request = named(url);
    // Never from https down to http, nor to anything but the web.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // The bytes as served, so that the limit and a size announced elsewhere count them.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));

    struct State {
        qint64 received = 0;
        bool refused = false;
        bool silent = false;
    };
    auto state = std::make_shared<State>();
    // Counted as it comes, for answers that announce no size or another one.
    const auto consume = [state, maxBytes, write = std::move(write)](QNetworkReply* reply) {
        const QByteArray chunk = reply->readAll();
        state->received += chunk.size();
        if (state->received > maxBytes || !write(chunk)) {
            state->refused = true;
            reply->abort();
        }
    };
    QNetworkReply* reply = send(
        &m_requests, context, [&](QNetworkAccessManager& manager) { return manager.get(request); },
        [state, consume, done = std::move(done)](QNetworkReply* ended) -> std::function<void()> {
            if (!state->refused)
                consume(ended);
            const QVariant status = ended->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const int code = status.isValid() ? status.toInt() : 0;
            Fetch end = Fetch::Failed;
            if (!state->refused && ended->error() == QNetworkReply::NoError)
                end = Fetch::Complete;
            else if (state->silent || (!state->refused && code == 0))
                end = Fetch::NoConnection;
            else if (!state->refused && (code == 404 || code == 410))
                end = Fetch::NotFound;
            // Qt follows every redirect it may; one it stopped at ends on the redirect's status.
            else if (!state->refused && code >= 300 && code < 400)
                end = Fetch::Redirected;
            return [done, end] { done(end); };
        });
    const auto refuse = [reply, state] {
        state->refused = true;
        reply->abort();
    };
    QTimer* silence = preciseTimer(reply, timeout);
    QObject::connect(silence, &QTimer::timeout, reply, [state, refuse] {
        state->silent = true;
        refuse();
    });
    QObject::connect(reply, &QNetworkReply::finished, silence, &QTimer::stop);
    // A size announced beyond the limit ends the transfer before anything is read.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes, refuse] {
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        if (declared.isValid() && declared.toLongLong() > maxBytes)
            refuse();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, silence, consume] {
        silence->start();
        consume(reply);
    });
    // Nobody waits for the rest any more: a large download stops here.
    QObject::connect(context, &QObject::destroyed, reply, &QNetworkReply::abort);
}

} // namespace ow
