#include "UserDefaults.h"

namespace ow {

bool UserDefaults::boolean(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::Bool && v.toBool();
}

qint64 UserDefaults::integer(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return v.toLongLong();
    default:
        return 0;
    }
}

QString UserDefaults::string(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QDateTime UserDefaults::date(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

QVariantList UserDefaults::array(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QVariantMap UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

} // namespace ow
