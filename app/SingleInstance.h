#pragma once

#include "LocalSocketServer.h"
#include "LockRequest.h"

#include <QLockFile>
#include <QObject>

#include <memory>
#include <optional>

namespace ow {

class Clock;

// One OrbinWash per user. The first launch holds a lock file and listens on a local
// socket only the user can reach; a later launch tells it that the application was
// opened again, or asks it to lock and waits for its answer, and exits. A lock file left
// by a crashed instance is taken over.
//
// A request is one line: "reopen", "lock", or "lock <seconds>"; a lock is answered with
// one line, the outcome's word. Anything else, and anything from another user (root can
// reach any socket), closes the connection unanswered.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Answers a lock request, once, with how it ended.
    using LockHandler = std::function<void(const LockRequest& request, LockDone answer)>;

    // name: unique per user and application; folder: where the lock file lives; owner:
    // the only user whose requests count.
    SingleInstance(const QString& name, const QString& folder, unsigned owner = currentUser());
    ~SingleInstance() override;

    // True when this is the first instance; it then listens for later launches, on
    // clock's time, which must outlive this.
    bool claim(Clock& clock);
    // Tells the running instance to come forward. True if it got the message.
    bool notifyRunning() const;
    // Asks the running instance to lock and waits for its answer; none when no instance
    // listens.
    std::optional<LockOutcome> askToLock(const LockRequest& request) const;
    // Without a handler, lock requests are dropped.
    void setLockHandler(LockHandler handler) { m_lockHandler = std::move(handler); }

    static QString defaultName();
    static QString defaultFolder();
    static unsigned currentUser();

signals:
    void reopenRequested();

private:
    void handle(const QByteArray& request, const LocalSocketServer::Answer& answer);

    QString m_name; // the socket's path
    QLockFile m_lock;
    unsigned m_owner;
    std::unique_ptr<LocalSocketServer> m_server;
    LockHandler m_lockHandler;
};

} // namespace ow
