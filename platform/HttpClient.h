#pragma once

#include <QByteArray>
#include <QUrl>

#include <chrono>
#include <functional>

class QObject;

namespace ow {

// Posts a body to an address and hands back what came back, on the main thread.
class HttpClient {
public:
    struct Response {
        bool delivered = false; // false on any transport error or timeout
        int status = 0;         // the HTTP status, 0 when there was none
        QByteArray body;
    };

    virtual ~HttpClient() = default;

    // done runs once, on the main thread, unless context is destroyed first. The request
    // is given up when timeout has passed since this call, whatever it is waiting for.
    virtual void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                      QObject* context, std::function<void(Response)> done) = 0;
};

} // namespace ow
