#include "SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace ow {

namespace {
constexpr int kConnectTimeoutMs = 2000;
const QByteArray kReopen = QByteArrayLiteral("reopen\n");
} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder)
    // A full path keeps the socket beside the lock, in the user's own runtime folder,
    // instead of a shared name in /tmp that another session could take over.
    : m_name(folder + QLatin1Char('/') + name + QStringLiteral(".socket"))
    , m_lock(folder + QLatin1Char('/') + name + QStringLiteral(".lock"))
{
    QDir().mkpath(folder);
    // A lock whose owner is no longer running is stale at once.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    return QStringLiteral("orbinwash-%1").arg(::getuid());
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0))
        return false;
    // The socket of a crashed instance would make listen() fail.
    QLocalServer::removeServer(m_name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name))
        return true; // still the only instance; later launches just cannot reach us
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kReopen.trimmed()))
                    emit reopenRequested();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return true;
}

bool SingleInstance::notifyRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kReopen);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.waitForDisconnected(kConnectTimeoutMs);
    return true;
}

} // namespace ow
