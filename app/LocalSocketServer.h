#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace ow {

class Clock;
class Timer;

// A Unix stream socket only its user can reach, carrying one request line per connection
// and at most one answer line back. Plain sockets and socket notifiers: the process maps
// no network library for it.
//
// A connection from another user (root can reach any socket), a line longer than any
// request, anything after the line, and a line not finished in time are closed unanswered.
class LocalSocketServer : public QObject {
    Q_OBJECT
public:
    // Sends the line back and closes the connection; an empty line closes it unanswered.
    // Does nothing once the connection is gone, however late it comes.
    using Answer = std::function<void(const QByteArray& line)>;
    // Gets each request without its newline; the connection waits for the answer.
    using Handler = std::function<void(const QByteArray& request, Answer answer)>;

    // owner: the only user whose connections count. clock must outlive the server.
    LocalSocketServer(Clock& clock, unsigned owner, Handler handler);
    ~LocalSocketServer() override;

    // Listens at path, replacing whatever a crashed instance left there. False when it
    // cannot; the socket file goes away with the server.
    bool listen(const QString& path);

    // The other end, blocking: connects to path, sends request as one line and waits for
    // the answer line, which is empty when the connection closed without one or none came
    // in time. None when nothing listens at path.
    static std::optional<QByteArray> ask(const QString& path, const QByteArray& request,
                                         std::chrono::milliseconds connectTimeout,
                                         std::chrono::milliseconds answerTimeout);

private:
    struct Connection {
        int fd = -1;
        QSocketNotifier* reader = nullptr;
        std::unique_ptr<Timer> lineDeadline; // until the request is in
        QByteArray received;
        bool asked = false; // the request went to the handler; waits for its answer
    };

    void acceptAll();
    void open(int fd);
    void readFrom(quint64 id);
    void answer(quint64 id, const QByteArray& line);
    void drop(quint64 id);

    Clock& m_clock;
    unsigned m_owner;
    Handler m_handler;
    QByteArray m_path;
    int m_fd = -1;
    QSocketNotifier* m_listener = nullptr;
    std::unique_ptr<Timer> m_acceptPause;
    // By a number never used twice: an answer for a connection that closed cannot reach
    // a later one that got the same descriptor.
    quint64 m_nextId = 1;
    std::map<quint64, Connection> m_connections;
};

} // namespace ow
