#include "LinuxDisplaySleepAssertion.h"
#include "LogindPowerKeyInhibitor.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace Qt::StringLiterals;

namespace {

const QString kLogind = u"org.freedesktop.login1"_s;
const QString kLogindPath = u"/org/freedesktop/login1"_s;
const QString kLogindManager = u"org.freedesktop.login1.Manager"_s;
const QString kScreenSaver = u"org.freedesktop.ScreenSaver"_s;
const QString kPortal = u"org.freedesktop.portal.Desktop"_s;
const QString kSilent = u"time.sleep(10)"_s;

// A python-dbusmock service on the private session bus the binary runs under, gone with
// the object; method (name, in and out signature, Python code) is added to its object.
class MockService {
public:
    MockService(const QString& name, const QStringList& args, const QStringList& method = {})
    {
        m_process.start(QStringLiteral(DBUSMOCK_PYTHON), QStringList{u"-m"_s, u"dbusmock"_s, u"--session"_s} + args);
        QDBusConnection bus = QDBusConnection::sessionBus();
        ready = QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, 10000);
        if (ready && !method.isEmpty()) {
            QDBusMessage add =
                QDBusMessage::createMethodCall(name, args[1], u"org.freedesktop.DBus.Mock"_s, u"AddMethod"_s);
            add << args[2] << method[0] << method[1] << method[2] << method[3];
            ready = bus.call(add).type() == QDBusMessage::ReplyMessage;
        }
    }
    ~MockService()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // The mock logs every call it receives, with its arguments, before running the method.
    bool wasCalled(const QString& call)
    {
        return QTest::qWaitFor([&] { return m_log.append(m_process.readAllStandardOutput()).contains(call.toUtf8()); },
                               2000);
    }

    bool ready = false;

private:
    QProcess m_process;
    QByteArray m_log;
};

int inhibitorsHeld()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager, u"ListInhibitors"_s));
    if (reply.arguments().size() != 1)
        return -1;
    const auto list = reply.arguments().constFirst().value<QDBusArgument>();
    int count = 0;
    list.beginArray();
    for (; !list.atEnd(); ++count)
        list.asVariant();
    list.endArray();
    return count;
}

enum class Logind { Mock, Silent, NotOnBus, NoBus };

struct BusRow {
    const char* name;
    Logind logind;
    bool silentScreenSaver;
    bool portal; // and the display kept awake as in a Wayland session
};

class LockBusCallsTest : public ::testing::TestWithParam<BusRow> {};

TEST_P(LockBusCallsTest, PowerKeysAreHeldWithinTheShortTimeoutAndExactlyUntilRelease)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    // The screen saver's X11 fallback has no server to reach here.
    qunsetenv("DISPLAY");
    const BusRow& row = GetParam();
    std::unique_ptr<MockService> logind;
    std::unique_ptr<MockService> screenSaver;
    std::unique_ptr<MockService> portal;
    if (row.logind == Logind::Mock)
        logind = std::make_unique<MockService>(kLogind, QStringList{u"--template"_s, u"logind"_s});
    if (row.logind == Logind::Silent) {
        logind = std::make_unique<MockService>(kLogind, QStringList{kLogind, kLogindPath, kLogindManager},
                                               QStringList{u"Inhibit"_s, u"ssss"_s, u"h"_s, kSilent});
    }
    if (row.silentScreenSaver) {
        screenSaver = std::make_unique<MockService>(
            kScreenSaver, QStringList{kScreenSaver, u"/org/freedesktop/ScreenSaver"_s, kScreenSaver},
            QStringList{u"Inhibit"_s, u"ss"_s, u"u"_s, kSilent});
    }
    if (row.portal) {
        portal = std::make_unique<MockService>(
            kPortal, QStringList{kPortal, u"/org/freedesktop/portal/desktop"_s, u"org.freedesktop.portal.Inhibit"_s},
            QStringList{u"Inhibit"_s, u"sua{sv}"_s, u"o"_s, u"ret = dbus.ObjectPath('/request/1')"_s});
    }
    ASSERT_TRUE(!logind || logind->ready);
    ASSERT_TRUE(!screenSaver || screenSaver->ready);
    ASSERT_TRUE(!portal || portal->ready);

    ow::LogindPowerKeyInhibitor inhibitor(
        row.logind == Logind::NoBus ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_s, u"none"_s)
                                    : QDBusConnection::sessionBus());
    ow::LinuxDisplaySleepAssertion displaySleep(row.portal ? ow::LinuxDisplaySleepAssertion::Fallback::InhibitPortal
                                                           : ow::LinuxDisplaySleepAssertion::Fallback::X11ScreenSaver);
    // A lock asks for both with input already taken, so together they wait well under a second.
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(inhibitor.acquire(u"cleaning"_s), row.logind == Logind::Mock);
    // No X server is reachable here, so only the portal can keep the display awake.
    EXPECT_EQ(displaySleep.create(u"cleaning"_s) != 0, row.portal);
    EXPECT_LT(took.elapsed(), 1000);
    if (logind) {
        EXPECT_TRUE(logind->wasCalled(
            uR"(Inhibit "handle-power-key:handle-suspend-key:handle-hibernate-key" "OrbinWash" "cleaning" "block")"_s));
    }
    if (screenSaver) {
        EXPECT_TRUE(screenSaver->wasCalled(u"Inhibit"_s));
    }
    if (portal) {
        EXPECT_TRUE(portal->wasCalled(u"Inhibit \"\" 8 "_s)); // flags: idle only
    }
    if (row.logind == Logind::Mock) {
        // Still held a while later: our end of the inhibitor stays open until release.
        QTest::qWait(200);
        EXPECT_EQ(inhibitorsHeld(), 1);
        inhibitor.release();
        EXPECT_TRUE(QTest::qWaitFor([] { return inhibitorsHeld() == 0; }, 2000)) << "still held after release";
    }
}

INSTANTIATE_TEST_SUITE_P(Buses, LockBusCallsTest,
                         ::testing::Values(BusRow{"Logind", Logind::Mock, false, false},
                                           BusRow{"SilentLogindAndScreenSaver", Logind::Silent, true, false},
                                           BusRow{"NoLogindOnTheBus", Logind::NotOnBus, true, false},
                                           BusRow{"NoBusAtAll", Logind::NoBus, false, false},
                                           BusRow{"InhibitPortalWithoutScreenSaver", Logind::Mock, false, true}),
                         [](const ::testing::TestParamInfo<BusRow>& row) { return std::string(row.param.name); });

} // namespace
