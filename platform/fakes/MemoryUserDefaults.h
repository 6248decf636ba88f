#pragma once

#include "UserDefaults.h"

#include <QMutex>
#include <QVariantMap>

namespace ow {

// An in-memory store for tests.
class MemoryUserDefaults final : public UserDefaults {
public:
    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    mutable QMutex m_mutex;
    QVariantMap m_values;
};

} // namespace ow
