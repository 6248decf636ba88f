#include "QtHttpClient.h"

#include <QNetworkReply>
#include <QNetworkRequest>

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
    // Qt would otherwise warn and send application/x-www-form-urlencoded.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    // The body is all the service gets to know: no cookies go back to it.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    QNetworkReply* reply = m_manager.post(request, body);
    auto tooLarge = std::make_shared<bool>(false);
    // Stops reading as soon as the answer is too large, rather than holding all of it.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, tooLarge] {
        if (reply->bytesAvailable() > kMaxResponseBytes) {
            *tooLarge = true;
            reply->abort();
        }
    });
    // Always cleaned up, also when the context is gone and nobody hears the answer.
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
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
