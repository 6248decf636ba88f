#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace ow {

// The user-defaults store: typed values under string keys, kept across restarts.
// A value is a bool, a 64-bit integer, a string, a date (QDateTime), an array
// (QVariantList) or a dictionary (QVariantMap) of such values; each keeps its type.
// Reads of an absent key, or of a key holding another type, give the type's empty value.
// All operations are safe from any thread.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // The stored value, or an invalid QVariant when the key is absent.
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;

    bool contains(const QString& key) const { return value(key).isValid(); }
    bool boolean(const QString& key) const;
    qint64 integer(const QString& key) const;
    QString string(const QString& key) const;
    QDateTime date(const QString& key) const;
    QVariantList array(const QString& key) const;
    QVariantMap dictionary(const QString& key) const;
};

} // namespace ow
