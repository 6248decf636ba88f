#include "Endpoints.h"

#include "EndpointTables.h"

#include <QString>

namespace ow {

namespace {

QUrl decodeUrl(const unsigned char* table, std::size_t size, const unsigned char key[16])
{
    return QUrl(QString::fromUtf8(decodeEndpoint(table, size, key)), QUrl::StrictMode);
}

} // namespace

QByteArray decodeEndpoint(const unsigned char* table, std::size_t size, const unsigned char key[16])
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    for (std::size_t i = 0; i < size; ++i)
        bytes[qsizetype(i)] = char(table[i] ^ key[i % 16]);
    return bytes;
}

QUrl checkInEndpoint()
{
    static const QUrl url = decodeUrl(endpoint_tables::kCheckIn, endpoint_tables::kCheckInSize,
                                      endpoint_tables::kServiceKey);
    return url;
}

QUrl reportEndpoint()
{
    static const QUrl url = decodeUrl(endpoint_tables::kReport, endpoint_tables::kReportSize,
                                      endpoint_tables::kServiceKey);
    return url;
}

QUrl crashEndpoint()
{
    static const QUrl url = decodeUrl(endpoint_tables::kCrash, endpoint_tables::kCrashSize,
                                      endpoint_tables::kCrashKey);
    return url;
}

} // namespace ow
