#include "LinuxDisplaySleepAssertion.h"

#include "X11Connection.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <X11/Xlib-xcb.h>
#include <xcb/screensaver.h>

#include <cstdlib>

namespace ow {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
constexpr quint32 kInhibitIdle = 8;

} // namespace

LinuxDisplaySleepAssertion::LinuxDisplaySleepAssertion(Fallback fallback)
    : m_fallback(fallback)
{
}

LinuxDisplaySleepAssertion::~LinuxDisplaySleepAssertion()
{
    while (!m_held.empty())
        release(m_held.begin()->first);
}

bool LinuxDisplaySleepAssertion::inhibitOverDBus(const QString& reason, quint32* cookie)
{
    // One call, bounded: asking first whether the service exists would be a second
    // round trip with no timeout of ours, and a missing service is an error reply anyway.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Inhibit"));
    call << QStringLiteral("OrbinWash") << reason;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1
        || reply.arguments().constFirst().typeId() != QMetaType::UInt)
        return false;
    *cookie = reply.arguments().constFirst().toUInt();
    return true;
}

bool LinuxDisplaySleepAssertion::inhibitOverPortal(const QString& reason, QString* request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                       QStringLiteral("Inhibit"));
    // No parent window to name: the overlays cover every output anyway.
    call << QString() << kInhibitIdle << QVariantMap{{QStringLiteral("reason"), reason}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1
        || !reply.arguments().constFirst().canConvert<QDBusObjectPath>())
        return false;
    *request = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    return !request->isEmpty();
}

std::shared_ptr<X11Connection> LinuxDisplaySleepAssertion::suspendXScreenSaver()
{
    // The server counts suspensions per client: those on the shared connection add up.
    std::shared_ptr<X11Connection> connection = X11Connection::shared();
    if (!connection)
        return nullptr;
    // Straight on XCB: its screen saver library is smaller than Xlib's and its extensions'.
    xcb_connection_t* xcb = XGetXCBConnection(connection->display());
    xcb_screensaver_query_version_reply_t* version =
        xcb_screensaver_query_version_reply(xcb, xcb_screensaver_query_version(xcb, 1, 1), nullptr);
    const bool suspends = version
        && (version->server_major_version > 1 || (version->server_major_version == 1 && version->server_minor_version >= 1));
    std::free(version);
    if (!suspends)
        return nullptr;
    xcb_screensaver_suspend(xcb, 1);
    xcb_flush(xcb);
    return connection;
}

quint32 LinuxDisplaySleepAssertion::create(const QString& reason)
{
    Held held;
    if (!inhibitOverDBus(reason, &held.dbusCookie)) {
        if (m_fallback == Fallback::InhibitPortal) {
            if (!inhibitOverPortal(reason, &held.portalRequest))
                return 0;
        } else {
            held.x11 = suspendXScreenSaver();
            if (!held.x11)
                return 0;
        }
    }
    const quint32 id = m_nextId++;
    if (m_nextId == 0)
        m_nextId = 1;
    m_held.emplace(id, std::move(held));
    return id;
}

void LinuxDisplaySleepAssertion::release(quint32 id)
{
    auto it = m_held.find(id);
    if (it == m_held.end())
        return;
    if (it->second.x11) {
        if (!it->second.x11->isBroken()) {
            xcb_connection_t* xcb = XGetXCBConnection(it->second.x11->display());
            xcb_screensaver_suspend(xcb, 0);
            xcb_flush(xcb);
        }
    } else if (!it->second.portalRequest.isEmpty()) {
        // The portal holds the inhibition until its request object is closed.
        QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
            kPortal, it->second.portalRequest, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Close")));
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("UnInhibit"));
        call << it->second.dbusCookie;
        QDBusConnection::sessionBus().send(call);
    }
    m_held.erase(it);
}

} // namespace ow
