#include "MemoryUserDefaults.h"

#include <QMutexLocker>

#include <numeric>

namespace ow {

QVariant MemoryUserDefaults::value(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.value(key);
}

void MemoryUserDefaults::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, value);
    ++writes[key];
}

void MemoryUserDefaults::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_values.remove(key);
    ++writes[key];
}

int MemoryUserDefaults::allWrites() const
{
    QMutexLocker lock(&m_mutex);
    return std::accumulate(writes.cbegin(), writes.cend(), 0);
}

} // namespace ow
