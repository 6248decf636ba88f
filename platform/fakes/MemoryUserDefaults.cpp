#include "MemoryUserDefaults.h"

#include <QMutexLocker>

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
}

void MemoryUserDefaults::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_values.remove(key);
}

} // namespace ow
