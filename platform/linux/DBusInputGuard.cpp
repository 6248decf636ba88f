#include "DBusInputGuard.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace ow {

namespace {

QString service()
{
    return QStringLiteral("com.orbinlabs.OrbinWash.InputGuard");
}

QString path()
{
    return QStringLiteral("/com/orbinlabs/OrbinWash/InputGuard");
}

QString interface()
{
    return QStringLiteral("com.orbinlabs.OrbinWash.InputGuard1");
}

// How long a guard whose lease hung up may take to answer a ping before we stop waiting
// for the reason it may still be sending.
constexpr int kPingTimeoutMs = 1000;

} // namespace

DBusInputGuard::DBusInputGuard(QDBusConnection bus, std::chrono::milliseconds answerTimeout)
    : m_bus(std::move(bus))
    , m_answerTimeout(answerTimeout)
    , m_leaseWatch(new QSocketNotifier(QSocketNotifier::Read, this))
    , m_ownerWatch(new QDBusServiceWatcher(QString(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
{
    connect(m_leaseWatch, &QSocketNotifier::activated, this, &DBusInputGuard::onLeaseActivity);
    connect(m_ownerWatch, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { endLock(QLatin1String(kLeftTheBus)); });
    // From any sender: the one that matters is known only once a lock is granted, and a
    // report sent before the grant's reply is delivered only after it.
    m_bus.connect(QString(), path(), interface(), QStringLiteral("Progress"), this,
                  SLOT(onProgress(double, QDBusMessage)));
    m_bus.connect(QString(), path(), interface(), QStringLiteral("DevicesRefused"), this,
                  SLOT(onDevicesRefused(QStringList, QDBusMessage)));
    m_bus.connect(QString(), path(), interface(), QStringLiteral("Released"), this,
                  SLOT(onReleased(QString, QDBusMessage)));
}

DBusInputGuard::~DBusInputGuard()
{
    release();
}

void DBusInputGuard::ask(std::function<void(Answer)> done)
{
    m_canLock = false;
    if (!m_bus.isConnected()) {
        QTimer::singleShot(0, this, [done = std::move(done)] { done(Answer::NotInstalled); });
        return;
    }
    // Installed means the bus can start the guard; a guard started by other means answers too.
    const QDeadlineTimer deadline(m_answerTimeout);
    const QDBusMessage list = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    whenAnswered(m_bus.asyncCall(list, int(m_answerTimeout.count())),
                 [this, deadline, done = std::move(done)](const QDBusMessage& names) {
        const bool activatable = names.arguments().value(0).toStringList().contains(service());
        const QDBusMessage canLock =
            QDBusMessage::createMethodCall(service(), path(), interface(), QStringLiteral("CanLock"));
        whenAnswered(m_bus.asyncCall(canLock, int(std::max<qint64>(1, deadline.remainingTime()))),
                     [this, activatable, done](const QDBusMessage& reply) { done(answerOf(reply, activatable)); });
    });
}

void DBusInputGuard::whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> then)
{
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [then = std::move(then)](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        then(done->reply());
    });
}

InputGuard::Answer DBusInputGuard::answerOf(const QDBusMessage& reply, bool activatable)
{
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 2) {
        m_canLock = reply.arguments().constFirst().toBool();
        return m_canLock ? Answer::Yes : Answer::No;
    }
    // Neither activatable nor on the bus: the bus says so at once.
    const QString error = reply.errorName();
    if (!activatable && error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        return Answer::NotInstalled;
    qWarning("The input guard did not answer: %s", qPrintable(error));
    return Answer::NoAnswer;
}

bool DBusInputGuard::lock(unsigned holdSeconds, unsigned timeoutSeconds, Events events)
{
    release();
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service(), path(), interface(), QStringLiteral("Lock"));
    call << QVariantMap{{QStringLiteral("hold-seconds"), QVariant::fromValue(holdSeconds)},
                        {QStringLiteral("timeout-seconds"), QVariant::fromValue(timeoutSeconds)}};
    // Should the answer come too late, Qt drops it with the lease, which ends that lock.
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kLockTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        qWarning("The input guard did not lock: %s", qPrintable(reply.errorName()));
        return false;
    }
    const auto lease = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    if (!lease.isValid())
        return false;
    // Our own copy, closed exactly at release; Qt's goes with the reply.
    m_lease = ::fcntl(lease.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (m_lease < 0)
        return false;
    m_owner = reply.service();
    m_events = std::move(events);
    ++m_lockSerial;
    // Should the guard be gone already, the lease has hung up and says so at once.
    m_leaseWatch->setSocket(m_lease);
    m_leaseWatch->setEnabled(true);
    m_ownerWatch->setWatchedServices({m_owner});
    return true;
}

void DBusInputGuard::release()
{
    if (m_lease < 0)
        return;
    // Closing the lease alone would end the lock too; asking first tells the guard why.
    QDBusMessage call = QDBusMessage::createMethodCall(m_owner, path(), interface(), QStringLiteral("Release"));
    call.setAutoStartService(false);
    m_bus.send(call);
    forgetLock();
}

void DBusInputGuard::onLeaseActivity()
{
    // The guard never writes to the lease: anything but its end closing is ignored.
    char ignored[64];
    const ssize_t got = ::recv(m_lease, ignored, sizeof ignored, MSG_DONTWAIT);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
        return;
    m_leaseWatch->setEnabled(false);
    // The guard closes its end before it says why it let go. Its answer to a ping follows
    // anything it sent before, so a reason on its way is heard first; a guard that has died
    // is answered for by the bus at once.
    QDBusMessage ping = QDBusMessage::createMethodCall(m_owner, QStringLiteral("/"),
                                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    ping.setAutoStartService(false);
    whenAnswered(m_bus.asyncCall(ping, kPingTimeoutMs), [this, serial = m_lockSerial](const QDBusMessage&) {
        if (serial == m_lockSerial)
            endLock(QLatin1String(kLeaseHungUp));
    });
}

void DBusInputGuard::forgetLock()
{
    m_leaseWatch->setEnabled(false);
    m_ownerWatch->setWatchedServices({});
    ::close(m_lease);
    m_lease = -1;
    m_owner.clear();
    m_events = {};
}

bool DBusInputGuard::fromOurGuard(const QDBusMessage& message) const
{
    return m_lease >= 0 && message.service() == m_owner;
}

void DBusInputGuard::onProgress(double fraction, const QDBusMessage& message)
{
    if (fromOurGuard(message) && m_events.progress)
        m_events.progress(fraction);
}

void DBusInputGuard::onDevicesRefused(const QStringList& names, const QDBusMessage& message)
{
    if (fromOurGuard(message) && m_events.refused)
        m_events.refused(names);
}

void DBusInputGuard::onReleased(const QString& reason, const QDBusMessage& message)
{
    if (fromOurGuard(message))
        endLock(reason);
}

void DBusInputGuard::endLock(const QString& reason)
{
    if (m_lease < 0)
        return;
    const Events events = m_events;
    forgetLock();
    if (events.released)
        events.released(reason);
}

} // namespace ow
