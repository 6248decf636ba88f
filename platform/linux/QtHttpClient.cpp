#include "QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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

} // namespace

void QtHttpClient::post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                        QObject* context, std::function<void(Response)> done)
{
    QNetworkRequest request(url);
    // Named, since Qt warns about a body without one; this is the type Qt and other HTTP
    // stacks fall back to, so the service sees what it always saw.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // The body is all the service gets to know: no cookies go back to it.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    // A manager of its own, gone with the request: a connection Qt keeps for a host,
    // one whose TLS handshake never completes for instance, cannot hold up later requests.
    auto* manager = new QNetworkAccessManager(&m_requests);
    QNetworkReply* reply = manager->post(request, body);
    // The whole request ends at its deadline, whatever phase it is in (waiting for a
    // connection, connecting, the TLS handshake, headers, body). Qt's transfer timeout
    // counts only silence while data flows, so a handshake that never completes or a
    // trickling answer would go on indefinitely. Ending the request ends its manager and
    // with it the connection, so the server sees the request given up.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(timeout);

    auto tooLarge = std::make_shared<bool>(false);
    // Stops reading as soon as the answer is too large, rather than holding all of it.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, tooLarge] {
        if (reply->bytesAvailable() > kMaxResponseBytes) {
            *tooLarge = true;
            reply->abort();
        }
    });
    // Always cleaned up, also when the context is gone and nobody hears the answer; the
    // reply is the manager's child.
    QObject::connect(reply, &QNetworkReply::finished, manager, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, tooLarge, done = std::move(done)] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        Response response;
        response.status = status.isValid() ? status.toInt() : 0;
        response.delivered = status.isValid() && !*tooLarge && !isTransportError(reply->error());
        if (response.delivered)
            response.body = reply->readAll();
        done(std::move(response));
    });
}

} // namespace ow
