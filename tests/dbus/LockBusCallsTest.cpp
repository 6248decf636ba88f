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

// A python-dbusmock service on the private session bus the binary runs under, gone with
// the object; silentMethod (name, in and out signature) sleeps far past any timeout of ours.
class MockService {
public:
    MockService(const QString& name, const QStringList& args, const QStringList& silentMethod = {})
    {
        m_process.start(QStringLiteral(DBUSMOCK_PYTHON), QStringList{u"-m"_s, u"dbusmock"_s, u"--session"_s} + args);
        QDBusConnection bus = QDBusConnection::sessionBus();
        ready = QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, 10000);
        if (ready && !silentMethod.isEmpty()) {
            QDBusMessage add =
                QDBusMessage::createMethodCall(name, args[1], u"org.freedesktop.DBus.Mock"_s, u"AddMethod"_s);
            add << args[2] << silentMethod[0] << silentMethod[1] << silentMethod[2] << u"time.sleep(10)"_s;
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
    if (row.logind == Logind::Mock)
        logind = std::make_unique<MockService>(kLogind, QStringList{u"--template"_s, u"logind"_s});
    if (row.logind == Logind::Silent) {
        logind = std::make_unique<MockService>(kLogind, QStringList{kLogind, kLogindPath, kLogindManager},
                                               QStringList{u"Inhibit"_s, u"ssss"_s, u"h"_s});
    }
    if (row.silentScreenSaver) {
        screenSaver = std::make_unique<MockService>(
            kScreenSaver, QStringList{kScreenSaver, u"/org/freedesktop/ScreenSaver"_s, kScreenSaver},
            QStringList{u"Inhibit"_s, u"ss"_s, u"u"_s});
    }
    ASSERT_TRUE(!logind || logind->ready);
    ASSERT_TRUE(!screenSaver || screenSaver->ready);

    ow::LogindPowerKeyInhibitor inhibitor(
        row.logind == Logind::NoBus ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_s, u"none"_s)
                                    : QDBusConnection::sessionBus());
    ow::LinuxDisplaySleepAssertion displaySleep;
    // A lock asks for both with input already taken, so together they wait well under a second.
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(inhibitor.acquire(u"cleaning"_s), row.logind == Logind::Mock);
    displaySleep.create(u"cleaning"_s);
    EXPECT_LT(took.elapsed(), 1000);
    if (logind) {
        EXPECT_TRUE(logind->wasCalled(
            uR"(Inhibit "handle-power-key:handle-suspend-key:handle-hibernate-key" "OrbinWash" "cleaning" "block")"_s));
    }
    if (screenSaver) {
        EXPECT_TRUE(screenSaver->wasCalled(u"Inhibit"_s));
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
                         ::testing::Values(BusRow{"Logind", Logind::Mock, false},
                                           BusRow{"SilentLogindAndScreenSaver", Logind::Silent, true},
                                           BusRow{"NoLogindOnTheBus", Logind::NotOnBus, true},
                                           BusRow{"NoBusAtAll", Logind::NoBus, false}),
                         [](const ::testing::TestParamInfo<BusRow>& row) { return std::string(row.param.name); });

} // namespace
