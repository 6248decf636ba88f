#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

namespace ow {

namespace {
using namespace std::chrono_literals;
constexpr auto kConnectTimeout = 2000ms;
// A lock may first wait for the keys of the shortcut that asked for it to go up, then
// for the input guard to answer.
constexpr auto kAnswerTimeout = 10000ms;
const QByteArray kReopen = QByteArrayLiteral("reopen");
const QByteArray kLock = QByteArrayLiteral("lock");
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

bool SingleInstance::claim(Clock& clock)
{
    if (!m_lock.tryLock(0))
        return false;
    m_server = std::make_unique<LocalSocketServer>(
        clock, m_owner, [this](const QByteArray& request, const LocalSocketServer::Answer& answer) {
            handle(request, answer);
        });
    if (!m_server->listen(m_name))
        m_server.reset(); // still the only instance; later launches just cannot reach us
    return true;
}

void SingleInstance::handle(const QByteArray& request, const LocalSocketServer::Answer& answer)
{
    const QList<QByteArray> words = request.split(' ');
    LockRequest lock;
    if (words.size() == 2)
        lock.duration = LockRequest::parseDuration(QString::fromLatin1(words[1]));
    const bool locks = words.first() == kLock && (words.size() == 1 || (words.size() == 2 && lock.duration));
    if (locks && m_lockHandler) {
        m_lockHandler(lock, [answer](LockOutcome outcome) { answer(outcomeWord(outcome)); });
        return;
    }
    if (request == kReopen)
        emit reopenRequested();
    answer({});
}

bool SingleInstance::notifyRunning() const
{
    // Waits for the running one to close the connection, as it does once it has the message.
    return LocalSocketServer::ask(m_name, kReopen, kConnectTimeout, kConnectTimeout).has_value();
}

std::optional<LockOutcome> SingleInstance::askToLock(const LockRequest& request) const
{
    QByteArray line = kLock;
    if (request.duration)
        line += ' ' + QByteArray::number(qint64(request.duration->count()));
    const std::optional<QByteArray> answer = LocalSocketServer::ask(m_name, line, kConnectTimeout, kAnswerTimeout);
    if (!answer)
        return std::nullopt;
    return outcomeFromWord(*answer).value_or(LockOutcome::NoAnswer);
}

} // namespace ow
