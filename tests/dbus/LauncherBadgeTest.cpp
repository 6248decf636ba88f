#include "DBusLauncherBadge.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTest>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Collects every LauncherEntry.Update seen on its own connection to the bus.
class UpdateListener : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> received;

public slots:
    void update(const QDBusMessage& message) { received.append(message); }
};

TEST(LauncherBadgeTest, ACountCrossesTheBusAsA64BitIntegerAndAnythingElseHidesTheBadge)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    // A second connection, as a dock would have: the signal must really cross the bus.
    QDBusConnection dock = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"dock"_s);
    UpdateListener listener;
    ASSERT_TRUE(dock.connect(QString(), ow::DBusLauncherBadge::kObjectPath,
                             u"com.canonical.Unity.LauncherEntry"_s, u"Update"_s, &listener,
                             SLOT(update(QDBusMessage))));
    // One round trip on the same connection: the match rule is in place after it.
    ASSERT_TRUE(dock.interface()->isServiceRegistered(u"org.freedesktop.DBus"_s).value());

    const struct {
        const char* label;
        qint64 count;
    } rows[] = {{"1", 1}, {"", 0}, {"12", 12}, {"new", 0}, {"-3", 0}};
    ow::DBusLauncherBadge badge;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const qsizetype before = listener.received.size();
        badge.setBadgeLabel(QString::fromLatin1(row.label));
        ASSERT_TRUE(QTest::qWaitFor([&] { return listener.received.size() > before; }, 5000));
        const QDBusMessage update = listener.received.at(before);
        ASSERT_EQ(update.signature(), u"sa{sv}"_s);
        // Docks match the entry to a launcher by the desktop file's name.
        EXPECT_EQ(update.arguments().at(0).toString(), u"application://orbinwash.desktop"_s);
        const auto props = qdbus_cast<QVariantMap>(update.arguments().at(1).value<QDBusArgument>());
        EXPECT_EQ(props.keys(), (QStringList{u"count"_s, u"count-visible"_s}));
        // Docks read "count" as a 64-bit integer only: 'x', not 'i'.
        EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(u"count"_s).metaType()), QByteArray("x"));
        EXPECT_EQ(props.value(u"count"_s).toLongLong(), row.count);
        EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(u"count-visible"_s).metaType()), QByteArray("b"));
        EXPECT_EQ(props.value(u"count-visible"_s).toBool(), row.count > 0);
    }
    EXPECT_EQ(listener.received.size(), qsizetype(std::size(rows)));
    QDBusConnection::disconnectFromBus(u"dock"_s);
}

} // namespace

#include "LauncherBadgeTest.moc"
