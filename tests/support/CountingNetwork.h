#pragma once

#include <QNetworkAccessManager>

namespace ow::test {

// Makes requests as usual and counts them, for tests that must know whether anything
// went out at all.
class CountingNetwork final : public QNetworkAccessManager {
public:
    int requests = 0;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override
    {
        ++requests;
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

} // namespace ow::test
