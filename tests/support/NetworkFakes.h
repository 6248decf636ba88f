#pragma once

#include "QtHttpClient.h"

#include <QList>

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
