#include "ReportReply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace ow {

bool reportAccepted(int status, const QByteArray& body)
{
    const QJsonValue ok = QJsonDocument::fromJson(body).object().value(QStringLiteral("ok"));
    return status == 200 && ok.isBool() && ok.toBool();
}

} // namespace ow
