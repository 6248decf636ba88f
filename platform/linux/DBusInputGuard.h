#pragma once

#include "InputGuard.h"

#include <QDBusConnection>
#include <QObject>

#include <chrono>

class QDBusMessage;
class QDBusPendingCall;
class QDBusServiceWatcher;
class QSocketNotifier;

namespace ow {

// The input guard, reached on the system bus (started by the bus on first call). A lock
// lasts as long as the lease the guard hands back stays open here: closing it, at release
// or by the kernel when this process dies, ends the lock at once. The other way round, the
// lease hanging up or the guard leaving the bus ends our lock as the guard's own release
// would, since the kernel has then given the devices back. Any program on the bus may send
// us a signal, so only the guard instance that granted the lock is heard.
class DBusInputGuard final : public QObject, public InputGuard {
    Q_OBJECT
public:
    // answerTimeout bounds the wait for the guard's answer to ask(), its start included;
    // the answer never comes inside the call.
    explicit DBusInputGuard(QDBusConnection bus = QDBusConnection::systemBus(),
                            std::chrono::milliseconds answerTimeout = kAnswerTimeout);
    ~DBusInputGuard() override;
    DBusInputGuard(const DBusInputGuard&) = delete;
    DBusInputGuard& operator=(const DBusInputGuard&) = delete;

    bool canLock() const override { return m_canLock; }
    void ask(std::function<void(Answer)> done) override;
    bool lock(unsigned holdSeconds, unsigned timeoutSeconds, Events events) override;
    void release() override;

    // The guard leaves after 30 s without a lock, so most locks start it again: a slow or
    // loaded machine may take seconds to do so. The lock command waits with the window
    // responsive and the busy cursor.
    static constexpr std::chrono::milliseconds kAnswerTimeout{8000};
    // The guard takes the devices only once no key is down on them; input is not ours
    // yet while it waits, and the lock watchdog allows the main loop 5 s.
    static constexpr int kLockTimeoutMs = 2500;

private slots:
    void onProgress(double fraction, const QDBusMessage& message);
    void onDevicesRefused(const QStringList& names, const QDBusMessage& message);
    void onReleased(const QString& reason, const QDBusMessage& message);

private:
    // then runs with the reply or the error, on the main thread.
    void whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> then);
    Answer answerOf(const QDBusMessage& reply, bool activatable);
    void onLeaseActivity();
    bool fromOurGuard(const QDBusMessage& message) const;
    void endLock(const QString& reason);
    void forgetLock();

    QDBusConnection m_bus;
    std::chrono::milliseconds m_answerTimeout;
    bool m_canLock = false;
    int m_lease = -1;
    quint64 m_lockSerial = 0; // tells a late answer about an earlier lock apart
    QString m_owner;          // the unique bus name of the guard that holds our lock
    Events m_events;
    QSocketNotifier* m_leaseWatch;
    QDBusServiceWatcher* m_ownerWatch;
};

} // namespace ow
