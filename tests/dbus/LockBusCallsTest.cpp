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
#include <vector>

using namespace ow;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");

// A python-dbusmock service on the private session bus the binary runs under, gone with
// the object. A silent one has a method that sleeps far past any timeout of ours.
class MockService {
public:
    MockService(const QString& name, const QStringList& args, const QStringList& silentMethod = {})
    {
        m_process.start(QStringLiteral(DBUSMOCK_PYTHON),
                        QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session")} + args);
        QDBusConnection bus = QDBusConnection::sessionBus();
        ready = QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, 10000);
        if (ready && !silentMethod.isEmpty()) {
            QDBusMessage add = QDBusMessage::createMethodCall(name, args.at(1), QStringLiteral("org.freedesktop.DBus.Mock"),
                                                              QStringLiteral("AddMethod"));
            add << args.at(2) << silentMethod.at(0) << silentMethod.at(1) << silentMethod.at(2)
                << QStringLiteral("time.sleep(10)");
            ready = bus.call(add).type() == QDBusMessage::ReplyMessage;
        }
    }
    ~MockService()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // The mock logs every call it receives on its output, before running the method.
    bool wasCalled(const QString& method)
    {
        return QTest::qWaitFor(
            [&] { return m_log.append(m_process.readAllStandardOutput()).contains(method.toUtf8()); }, 2000);
    }

    bool ready = false;

private:
    QProcess m_process;
    QByteArray m_log;
};

// What logind lists: "what|who|why|mode" of each inhibitor.
std::vector<std::string> inhibitors()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager, QStringLiteral("ListInhibitors")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return {"<no answer>"};
    std::vector<std::string> rows;
    const auto list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        quint32 uid = 0;
        quint32 pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        rows.push_back(QStringList{what, who, why, mode}.join(QLatin1Char('|')).toStdString());
    }
    list.endArray();
    return rows;
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
    if (row.logind == Logind::Mock) {
        logind = std::make_unique<MockService>(kLogind, QStringList{QStringLiteral("--template"), QStringLiteral("logind")});
    } else if (row.logind == Logind::Silent) {
        logind = std::make_unique<MockService>(kLogind, QStringList{kLogind, kLogindPath, kLogindManager},
                                               QStringList{QStringLiteral("Inhibit"), QStringLiteral("ssss"), QStringLiteral("h")});
    }
    if (row.silentScreenSaver) {
        screenSaver = std::make_unique<MockService>(
            kScreenSaver, QStringList{kScreenSaver, QStringLiteral("/org/freedesktop/ScreenSaver"), kScreenSaver},
            QStringList{QStringLiteral("Inhibit"), QStringLiteral("ss"), QStringLiteral("u")});
    }
    ASSERT_TRUE(!logind || logind->ready);
    ASSERT_TRUE(!screenSaver || screenSaver->ready);

    LogindPowerKeyInhibitor inhibitor(row.logind == Logind::NoBus
        ? QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"))
        : QDBusConnection::sessionBus());
    LinuxDisplaySleepAssertion displaySleep;
    // A lock asks for both with input already taken, so together they wait well under a second.
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(inhibitor.acquire(QStringLiteral("cleaning")), row.logind == Logind::Mock);
    displaySleep.create(QStringLiteral("cleaning"));
    EXPECT_LT(took.elapsed(), 1000);
    if (row.logind == Logind::Silent) {
        EXPECT_TRUE(logind->wasCalled(QStringLiteral("Inhibit")));
    }
    if (screenSaver) {
        EXPECT_TRUE(screenSaver->wasCalled(QStringLiteral("Inhibit")));
    }
    if (row.logind == Logind::Mock) {
        // Still held a while later: our end of the inhibitor stays open until release.
        QTest::qWait(200);
        EXPECT_EQ(inhibitors(), std::vector<std::string>{
                                    "handle-power-key:handle-suspend-key:handle-hibernate-key|OrbinWash|cleaning|block"});
        inhibitor.release();
        EXPECT_TRUE(QTest::qWaitFor([&] { return inhibitors().empty(); }, 2000)) << "still held after release";
    }
}

INSTANTIATE_TEST_SUITE_P(Buses, LockBusCallsTest,
                         ::testing::Values(BusRow{"Logind", Logind::Mock, false},
                                           BusRow{"SilentLogindAndScreenSaver", Logind::Silent, true},
                                           BusRow{"NoLogindOnTheBus", Logind::NotOnBus, true},
                                           BusRow{"NoBusAtAll", Logind::NoBus, false}),
                         [](const ::testing::TestParamInfo<BusRow>& row) { return std::string(row.param.name); });

} // namespace
