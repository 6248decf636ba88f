#pragma once

#include "UserDefaults.h"

#include <QHash>
#include <QMutex>
#include <QVariantMap>

namespace ow {

// An in-memory store for tests. It counts writes, to tell a value rewritten unchanged
// from one left alone.
class MemoryUserDefaults final : public UserDefaults {
public:
    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    int allWrites() const;

    // Writes and removals, per key.
    QHash<QString, int> writes;

private:
    mutable QMutex m_mutex;
    QVariantMap m_values;
};

} // namespace ow
