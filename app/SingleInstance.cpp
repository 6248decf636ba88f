#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <sys/socket.h>
#include <unistd.h>

namespace ow {

namespace {
constexpr int kConnectTimeoutMs = 2000;
// A lock may first wait for the keys of the shortcut that asked for it to go up, then
// for the input guard to answer.
constexpr int kAnswerTimeoutMs = 10000;
// Longer than any request: a longer line is not read to its end.
constexpr qint64 kLongestRequest = 64;
const QByteArray kReopen = QByteArrayLiteral("reopen");
const QByteArray kLock = QByteArrayLiteral("lock");

// Whether the other end of the connection runs as user, as the kernel says.
bool sentBy(const QLocalSocket& socket, unsigned user)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
        && peer.uid == user;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder, unsigned owner)
    // A full path keeps the socket beside the lock, in the user's own runtime folder,
    // instead of a shared name in /tmp that another session could take over.
    : m_name(folder + QLatin1Char('/') + name + QStringLiteral(".socket"))
    , m_lock(folder + QLatin1Char('/') + name + QStringLiteral(".lock"))
    , m_owner(owner)
{
    QDir().mkpath(folder);
    // A lock whose owner is no longer running is stale at once.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    return QStringLiteral("orbinwash-%1").arg(currentUser());
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

unsigned SingleInstance::currentUser()
{
    return ::getuid();
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
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!sentBy(*socket, m_owner)) {
        socket->disconnectFromServer();
        return;
    }
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kLongestRequest)
                socket->disconnectFromServer();
            return;
        }
        // The first line is the request, and nothing may follow it.
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        const QByteArray line = socket->readLine(kLongestRequest);
        const bool alone = line.endsWith('\n') && socket->bytesAvailable() == 0;
        handle(alone ? line.chopped(1) : QByteArray(), socket);
    });
}

void SingleInstance::handle(const QByteArray& request, QLocalSocket* socket)
{
    const QList<QByteArray> words = request.split(' ');
    LockRequest lock;
    if (words.size() == 2)
        lock.duration = LockRequest::parseDuration(QString::fromLatin1(words[1]));
    const bool locks = words.first() == kLock && (words.size() == 1 || (words.size() == 2 && lock.duration));
    if (locks && m_lockHandler) {
        m_lockHandler(lock, [socket = QPointer<QLocalSocket>(socket)](LockOutcome outcome) {
            if (!socket)
                return; // the asker gave up
            socket->write(outcomeWord(outcome) + '\n');
            socket->disconnectFromServer(); // once the answer is written
        });
        return;
    }
    if (request == kReopen)
        emit reopenRequested();
    socket->disconnectFromServer();
}

bool SingleInstance::notifyRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kReopen + '\n');
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.waitForDisconnected(kConnectTimeoutMs);
    return true;
}

std::optional<LockOutcome> SingleInstance::askToLock(const LockRequest& request) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return std::nullopt;
    QByteArray line = kLock;
    if (request.duration)
        line += ' ' + QByteArray::number(qint64(request.duration->count()));
    socket.write(line + '\n');
    const QDeadlineTimer deadline(kAnswerTimeoutMs);
    while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return outcomeFromWord(socket.readLine().trimmed()).value_or(LockOutcome::NoAnswer);
}

} // namespace ow
