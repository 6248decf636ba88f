#pragma once

#include "InputGuard.h"

#include <QDBusConnection>
#include <QObject>

class QDBusMessage;

namespace ow {

// The input guard, reached on the system bus (started by the bus on first call). A lock
// lasts as long as the lease the guard hands back stays open here: closing it, at release
// or by the kernel when this process dies, ends the lock at once. Any program on the bus
// may send us a signal, so only the guard instance that granted the lock is heard.
class DBusInputGuard final : public QObject, public InputGuard {
    Q_OBJECT
public:
    explicit DBusInputGuard(QDBusConnection bus = QDBusConnection::systemBus());
    ~DBusInputGuard() override;
    DBusInputGuard(const DBusInputGuard&) = delete;
    DBusInputGuard& operator=(const DBusInputGuard&) = delete;

    bool canLock() const override { return m_canLock; }
    void refresh() override;
    bool lock(unsigned holdSeconds, unsigned timeoutSeconds, Events events) override;
    void release() override;

    // The lock command waits for the answer, with the main window still on screen.
    static constexpr int kCallTimeoutMs = 400;
    // The guard takes the devices only once no key is down on them; input is not ours
    // yet while it waits, and the lock watchdog allows the main loop 5 s.
    static constexpr int kLockTimeoutMs = 2500;

private slots:
    void onProgress(double fraction, const QDBusMessage& message);
    void onDevicesRefused(const QStringList& names, const QDBusMessage& message);
    void onReleased(const QString& reason, const QDBusMessage& message);

private:
    bool fromOurGuard(const QDBusMessage& message) const;
    void forgetLock();

    QDBusConnection m_bus;
    bool m_canLock = false;
    int m_lease = -1;
    QString m_owner; // the unique bus name of the guard that holds our lock
    Events m_events;
};

} // namespace ow
