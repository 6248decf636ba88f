#include "ProcessStats.h"

#include <QDir>
#include <QFile>
#include <QList>

namespace ow::bench {

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString taskPath(qint64 pid)
{
    return QStringLiteral("/proc/%1/task").arg(pid);
}

// The process and its descendants, parents first.
QList<qint64> tree(qint64 pid)
{
    QList<qint64> pids{pid};
    for (qsizetype i = 0; i < pids.size(); ++i) {
        const QString tasks = taskPath(pids[i]);
        for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QByteArray& child : readAll(tasks + QLatin1Char('/') + tid + QStringLiteral("/children")).split(' ')) {
                if (!child.trimmed().isEmpty())
                    pids.append(child.trimmed().toLongLong());
            }
        }
    }
    return pids;
}

} // namespace

qint64 treeCpuNs(qint64 pid)
{
    qint64 total = 0;
    for (qint64 member : tree(pid)) {
        const QString tasks = taskPath(member);
        for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            total += readAll(tasks + QLatin1Char('/') + tid + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
    }
    return total;
}

qint64 treeRssKiB(qint64 pid)
{
    qint64 total = 0;
    for (qint64 member : tree(pid)) {
        for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/status").arg(member)).split('\n')) {
            if (line.startsWith("VmRSS:"))
                total += line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return total;
}

} // namespace ow::bench
