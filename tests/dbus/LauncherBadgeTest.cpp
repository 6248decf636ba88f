#include "DBusLauncherBadge.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTest>
#include <QVariantMap>

#include <gtest/gtest.h>

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
    QDBusConnection dock = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
    UpdateListener listener;
    ASSERT_TRUE(dock.connect(QString(), ow::DBusLauncherBadge::kObjectPath,
                             QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"), &listener,
                             SLOT(update(QDBusMessage))));
    // One round trip on the same connection: the match rule is in place after it.
    ASSERT_TRUE(dock.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus")).value());

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
        ASSERT_EQ(update.signature(), QStringLiteral("sa{sv}"));
        // Docks match the entry to a launcher by the desktop file's name.
        EXPECT_EQ(update.arguments().at(0).toString(), QStringLiteral("application://orbinwash.desktop"));
        const auto props = qdbus_cast<QVariantMap>(update.arguments().at(1).value<QDBusArgument>());
        EXPECT_EQ(props.keys(), (QStringList{QStringLiteral("count"), QStringLiteral("count-visible")}));
        // Docks read "count" as a 64-bit integer only: 'x', not 'i'.
        EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(QStringLiteral("count")).metaType()), QByteArray("x"));
        EXPECT_EQ(props.value(QStringLiteral("count")).toLongLong(), row.count);
        EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(QStringLiteral("count-visible")).metaType()), QByteArray("b"));
        EXPECT_EQ(props.value(QStringLiteral("count-visible")).toBool(), row.count > 0);
    }
    EXPECT_EQ(listener.received.size(), qsizetype(std::size(rows)));
    QDBusConnection::disconnectFromBus(QStringLiteral("dock"));
}

} // namespace

#include "LauncherBadgeTest.moc"
