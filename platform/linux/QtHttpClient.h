#pragma once

#include "HttpClient.h"

#include <QObject>

namespace ow {

// HttpClient over Qt's network stack. Lives on the main thread; requests still in flight
// when it is destroyed are dropped without calling back.
class QtHttpClient final : public HttpClient {
public:
    // Bodies beyond this are not read: the service never sends anything close.
    static constexpr qint64 kMaxResponseBytes = 1024 * 1024;

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
              QObject* context, std::function<void(Response)> done) override;

private:
    // Parent of one network manager per request in flight.
    QObject m_requests;
};

} // namespace ow
