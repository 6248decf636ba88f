#pragma once

#include "MemoryUserDefaults.h"

#include <QHash>

#include <numeric>

// Counts writes, to tell a value rewritten unchanged from one left alone.
class CountingDefaults final : public ow::UserDefaults {
public:
    QVariant value(const QString& key) const override { return m_store.value(key); }
    void setValue(const QString& key, const QVariant& value) override
    {
        ++writes[key];
        m_store.setValue(key, value);
    }
    void remove(const QString& key) override
    {
        ++writes[key];
        m_store.remove(key);
    }
    int allWrites() const { return std::accumulate(writes.cbegin(), writes.cend(), 0); }

    QHash<QString, int> writes;

private:
    ow::MemoryUserDefaults m_store;
};
