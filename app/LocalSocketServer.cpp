#include "LocalSocketServer.h"

#include "Clock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ow {

namespace {

using namespace std::chrono_literals;

// Longer than any request or answer: a longer line is not read to its end.
constexpr qsizetype kLongestLine = 64;
// A client writes its line right after connecting; one that has not by then is stuck or
// hostile, and would hold a descriptor for as long as the app runs.
constexpr auto kLineTimeout = 2s;
// Out of descriptors, the pending connection keeps the socket readable: accepting again
// only after a pause keeps that from spinning.
constexpr auto kAcceptPause = 1s;

bool fill(sockaddr_un& address, const QByteArray& path)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

sockaddr* generic(sockaddr_un& address)
{
    return reinterpret_cast<sockaddr*>(&address);
}

// Whether the other end of the connection runs as user, as the kernel says.
bool sentBy(int fd, unsigned user)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == user;
}

// All of data, or false. A reader that went away is an error, not a SIGPIPE.
bool sendAll(int fd, QByteArray data)
{
    while (!data.isEmpty()) {
        const ssize_t sent = ::send(fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data.remove(0, sent);
    }
    return true;
}

} // namespace

LocalSocketServer::LocalSocketServer(Clock& clock, unsigned owner, Handler handler)
    : m_clock(clock)
    , m_owner(owner)
    , m_handler(std::move(handler))
{
}

LocalSocketServer::~LocalSocketServer()
{
    while (!m_connections.empty())
        drop(m_connections.begin()->first);
    if (m_fd < 0)
        return;
    m_listener->setEnabled(false);
    ::close(m_fd);
    ::unlink(m_path.constData());
}

bool LocalSocketServer::listen(const QString& path)
{
    // Bound in a folder of its own and moved into place only once the user alone may
    // connect, the socket is never reachable at path with the umask's wider rights; the
    // move replaces a socket left by a crash.
    const QByteArray target = QFile::encodeName(path);
    QByteArray folder = target + ".XXXXXX";
    if (!::mkdtemp(folder.data()))
        return false;
    const QByteArray bound = folder + "/s";
    sockaddr_un address;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool listening = fd >= 0 && fill(address, bound)
        && ::bind(fd, generic(address), sizeof address) == 0 && ::chmod(bound.constData(), S_IRWXU) == 0
        && ::listen(fd, SOMAXCONN) == 0 && ::rename(bound.constData(), target.constData()) == 0;
    if (!listening) {
        ::unlink(bound.constData());
        if (fd >= 0)
            ::close(fd);
    }
    ::rmdir(folder.constData());
    if (!listening)
        return false;
    m_fd = fd;
    m_path = target;
    m_listener = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_listener, &QSocketNotifier::activated, this, &LocalSocketServer::acceptAll);
    return true;
}

void LocalSocketServer::acceptAll()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EINTR || errno == ECONNABORTED))
            continue;
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_listener->setEnabled(false);
                m_acceptPause = m_clock.schedule(kAcceptPause, false, [this] {
                    m_listener->setEnabled(true);
                    m_acceptPause.reset();
                });
            }
            return;
        }
        if (sentBy(fd, m_owner))
            open(fd);
        else
            ::close(fd);
    }
}

void LocalSocketServer::open(int fd)
{
    const quint64 id = m_nextId++;
    Connection& connection = m_connections[id];
    connection.fd = fd;
    connection.reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(connection.reader, &QSocketNotifier::activated, this, [this, id] { readFrom(id); });
    connection.lineDeadline = m_clock.schedule(kLineTimeout, false, [this, id] { drop(id); });
}

void LocalSocketServer::readFrom(quint64 id)
{
    const auto found = m_connections.find(id);
    if (found == m_connections.end())
        return;
    Connection& connection = found->second;
    char buffer[kLongestLine + 1];
    const ssize_t size = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (size < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return; // the notifier comes again
    // Gone, failed, or more after the request: waiting for the answer is over.
    if (size <= 0 || connection.asked) {
        drop(id);
        return;
    }
    connection.received.append(buffer, size);
    const qsizetype end = connection.received.indexOf('\n');
    if (end < 0) {
        if (connection.received.size() > kLongestLine)
            drop(id);
        return;
    }
    // The first line is the request, and nothing may follow it.
    if (end != connection.received.size() - 1 || end > kLongestLine) {
        drop(id);
        return;
    }
    connection.asked = true;
    connection.lineDeadline.reset();
    const QByteArray request = connection.received.chopped(1);
    // The handler may answer at once, which closes the connection.
    m_handler(request, [server = QPointer(this), id](const QByteArray& line) {
        if (server)
            server->answer(id, line);
    });
}

void LocalSocketServer::answer(quint64 id, const QByteArray& line)
{
    const auto found = m_connections.find(id);
    if (found == m_connections.end())
        return; // the asker gave up
    // An answer line fits the socket's empty send buffer whole; if it cannot be sent,
    // closing is all there is left to do.
    if (!line.isEmpty())
        sendAll(found->second.fd, line + '\n');
    drop(id);
}

void LocalSocketServer::drop(quint64 id)
{
    auto node = m_connections.extract(id);
    if (node.empty())
        return;
    Connection& connection = node.mapped();
    // Unwatched before its descriptor closes: the number may soon belong to another file.
    connection.reader->setEnabled(false);
    connection.reader->deleteLater();
    ::close(connection.fd);
}

std::optional<QByteArray> LocalSocketServer::ask(const QString& path, const QByteArray& request,
                                                 std::chrono::milliseconds connectTimeout,
                                                 std::chrono::milliseconds answerTimeout)
{
    sockaddr_un address;
    if (!fill(address, QFile::encodeName(path)))
        return std::nullopt;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // Bounds the connect while the server's backlog is full, and the sending.
    const timeval bound{.tv_sec = connectTimeout.count() / 1000, .tv_usec = connectTimeout.count() % 1000 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    int connected = -1;
    do
        connected = ::connect(fd, generic(address), sizeof address);
    while (connected != 0 && errno == EINTR);
    if (connected != 0) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray answer;
    if (sendAll(fd, request + '\n')) {
        const QDeadlineTimer deadline(answerTimeout);
        // Up to the answer's newline, or until the server closes the connection.
        while (!answer.contains('\n') && answer.size() <= kLongestLine) {
            pollfd readable{.fd = fd, .events = POLLIN, .revents = 0};
            const int ready = ::poll(&readable, 1, int(deadline.remainingTime()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char buffer[kLongestLine + 1];
            const ssize_t size = ::recv(fd, buffer, sizeof buffer, 0);
            if (size < 0 && errno == EINTR)
                continue;
            if (size <= 0)
                break;
            answer.append(buffer, size);
        }
    }
    ::close(fd);
    const qsizetype end = answer.indexOf('\n');
    return end < 0 ? QByteArray() : answer.left(end);
}

} // namespace ow
