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

class LauncherBadgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        // A second connection, as a dock would have: the signal must really cross the bus.
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.connect(QString(), ow::DBusLauncherBadge::kObjectPath,
                                QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"),
                                &listener, SLOT(update(QDBusMessage))));
        // One round trip on the same connection: the match rule is in place after it.
        ASSERT_TRUE(bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus")).value());
    }

    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("dock")); }

    // The next signal's app URI and properties.
    QDBusMessage nextUpdate()
    {
        const qsizetype before = listener.received.size();
        if (!QTest::qWaitFor([&] { return listener.received.size() > before; }, 5000))
            return {};
        return listener.received.at(before);
    }

    static QVariantMap properties(const QDBusMessage& message)
    {
        if (message.arguments().size() != 2)
            return {};
        return qdbus_cast<QVariantMap>(message.arguments().at(1).value<QDBusArgument>());
    }

    UpdateListener listener;
    ow::DBusLauncherBadge badge;
};

TEST_F(LauncherBadgeTest, AOneShowsACountOfOneAndAnEmptyLabelHidesIt)
{
    badge.setBadgeLabel(QStringLiteral("1"));
    const QDBusMessage shown = nextUpdate();
    ASSERT_EQ(shown.type(), QDBusMessage::SignalMessage);
    EXPECT_EQ(shown.path(), QStringLiteral("/com/orbinlabs/OrbinWash/LauncherEntry"));
    EXPECT_EQ(shown.signature(), QStringLiteral("sa{sv}"));
    ASSERT_EQ(shown.arguments().size(), 2);
    EXPECT_EQ(shown.arguments().at(0).toString(), QStringLiteral("application://orbinwash.desktop"));
    QVariantMap props = properties(shown);
    EXPECT_EQ(props.size(), 2);
    // Docks read "count" as a 64-bit integer only: 'x', not 'i'.
    EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(QStringLiteral("count")).metaType()), QByteArray("x"));
    EXPECT_EQ(props.value(QStringLiteral("count")).toLongLong(), 1);
    EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(QStringLiteral("count-visible")).metaType()),
              QByteArray("b"));
    EXPECT_TRUE(props.value(QStringLiteral("count-visible")).toBool());

    badge.setBadgeLabel(QString());
    const QDBusMessage hidden = nextUpdate();
    ASSERT_EQ(hidden.arguments().size(), 2);
    EXPECT_EQ(hidden.arguments().at(0).toString(), QStringLiteral("application://orbinwash.desktop"));
    props = properties(hidden);
    EXPECT_EQ(QDBusMetaType::typeToSignature(props.value(QStringLiteral("count")).metaType()), QByteArray("x"));
    EXPECT_EQ(props.value(QStringLiteral("count")).toLongLong(), 0);
    EXPECT_EQ(props.value(QStringLiteral("count-visible")), QVariant(false));
    EXPECT_EQ(listener.received.size(), 2);
}

TEST_F(LauncherBadgeTest, ALabelThatIsNoCountHidesTheBadge)
{
    badge.setBadgeLabel(QStringLiteral("new"));
    const QVariantMap props = properties(nextUpdate());
    EXPECT_EQ(props.value(QStringLiteral("count")).toLongLong(), 0);
    EXPECT_EQ(props.value(QStringLiteral("count-visible")), QVariant(false));
}

} // namespace

#include "LauncherBadgeTest.moc"
