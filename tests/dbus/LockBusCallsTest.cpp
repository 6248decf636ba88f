#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeInputGrab.h"
#include "FakeLockWatchdog.h"
#include "FakeScreenList.h"
#include "FakeWindowStacking.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LockController.h"
#include "Localizer.h"
#include "LogindPowerKeyInhibitor.h"
#include "MemoryUserDefaults.h"
#include "TapLockEngine.h"

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

// A python-dbusmock service, on the system bus its environment names or on the session
// bus; gone with the object.
class MockService {
public:
    MockService(const QStringList& args, const QString& systemBusAddress, QDBusConnection bus, const QString& name)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBusAddress);
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(DBUSMOCK_PYTHON), QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + args);
        ready = QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, 10000);
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

// A service whose method never answers in time: it sleeps far past any timeout of ours.
std::unique_ptr<MockService> silentService(const QStringList& where, const QString& systemBusAddress, QDBusConnection bus,
                                           const QString& name, const QString& path, const QString& interface,
                                           const QString& method, const QString& inSignature, const QString& outSignature)
{
    auto mock = std::make_unique<MockService>(where + QStringList{name, path, interface}, systemBusAddress, bus, name);
    QDBusMessage add = QDBusMessage::createMethodCall(name, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                                                      QStringLiteral("AddMethod"));
    add << interface << method << inSignature << outSignature << QStringLiteral("time.sleep(10)");
    if (bus.call(add).type() != QDBusMessage::ReplyMessage)
        mock->ready = false;
    return mock;
}

enum class Logind { Mock, Silent, NotOnBus, NoBus };

struct BusRow {
    const char* name;
    Logind logind;
    bool silentScreenSaver;
};

void PrintTo(const BusRow& row, std::ostream* out)
{
    *out << row.name;
}

// A lock with the real bus services and fakes for the rest, on a private system bus of
// its own (its own dbus-daemon) beside the private session bus the binary runs under.
class LockBusCallsTest : public ::testing::TestWithParam<BusRow> {
protected:
    static void SetUpTestSuite()
    {
        // The screen saver's X11 fallback has no server to reach here.
        qunsetenv("DISPLAY");
        systemDaemon = std::make_unique<QProcess>();
        systemDaemon->start(QStringLiteral("dbus-daemon"),
                            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (systemDaemon->waitForReadyRead(10000))
            systemAddress = QString::fromUtf8(systemDaemon->readLine().trimmed());
    }
    static void TearDownTestSuite()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("system"));
        systemDaemon->kill();
        systemDaemon->waitForFinished();
        systemDaemon.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        ASSERT_FALSE(systemAddress.isEmpty());
        system = QDBusConnection::connectToBus(systemAddress, QStringLiteral("system"));
        ASSERT_TRUE(system.isConnected());
        const BusRow& row = GetParam();
        const QStringList onSystem{QStringLiteral("--system")};
        if (row.logind == Logind::Mock) {
            logind = std::make_unique<MockService>(QStringList{QStringLiteral("--template"), QStringLiteral("logind")},
                                                   systemAddress, system, kLogind);
        } else if (row.logind == Logind::Silent) {
            logind = silentService(onSystem, systemAddress, system, kLogind, kLogindPath, kLogindManager,
                                   QStringLiteral("Inhibit"), QStringLiteral("ssss"), QStringLiteral("h"));
        }
        if (row.silentScreenSaver) {
            screenSaver = silentService({QStringLiteral("--session")}, systemAddress, QDBusConnection::sessionBus(),
                                        kScreenSaver, QStringLiteral("/org/freedesktop/ScreenSaver"), kScreenSaver,
                                        QStringLiteral("Inhibit"), QStringLiteral("ss"), QStringLiteral("u"));
        }
        ASSERT_TRUE(!logind || logind->ready);
        ASSERT_TRUE(!screenSaver || screenSaver->ready);

        const QDBusConnection inhibitorBus = row.logind == Logind::NoBus
            ? QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"))
            : system;
        controller = std::make_unique<LockController>(
            std::make_unique<TapLockEngine>(std::make_unique<FakeInputGrab>(),
                                            std::make_unique<LogindPowerKeyInhibitor>(inhibitorBus), clock),
            LockController::Services{clock, defaults, cursor, sleep, screens, stacking, watchdog});
        controller->setOnUnlock([this] { ++unlockCalls; });
    }

    void TearDown() override
    {
        controller.reset();
        logind.reset();
        screenSaver.reset();
    }

    // What logind lists: "what|who|why|mode" of each inhibitor.
    std::vector<std::string> inhibitors()
    {
        const QDBusMessage reply = system.call(
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

    static inline std::unique_ptr<QProcess> systemDaemon;
    static inline QString systemAddress;
    QDBusConnection system{QString()};
    std::unique_ptr<MockService> logind;
    std::unique_ptr<MockService> screenSaver;
    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    LinuxDisplaySleepAssertion sleep;
    FakeScreenList screens{{QRect(0, 0, 800, 600)}};
    FakeWindowStacking stacking;
    FakeLockWatchdog watchdog;
    std::unique_ptr<LockController> controller;
    int unlockCalls = 0;
};

TEST_P(LockBusCallsTest, LocksWithinASecondAndHoldsThePowerKeysExactlyWhileLocked)
{
    const BusRow& row = GetParam();
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(controller->lock());
    EXPECT_LT(took.elapsed(), 1000);
    if (row.logind == Logind::Silent) {
        EXPECT_TRUE(logind->wasCalled(QStringLiteral("Inhibit")));
    }
    if (screenSaver) {
        EXPECT_TRUE(screenSaver->wasCalled(QStringLiteral("Inhibit")));
    }

    if (row.logind == Logind::Mock) {
        // Still held a while later: our end of the inhibitor stays open while locked.
        QTest::qWait(200);
        const QString expected = QStringLiteral("handle-power-key:handle-suspend-key:handle-hibernate-key|OrbinWash|")
            + L("lock.power_keys_reason") + QStringLiteral("|block");
        EXPECT_EQ(inhibitors(), std::vector<std::string>{expected.toStdString()});
    }

    took.restart();
    controller->unlock();
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_EQ(unlockCalls, 1);
    EXPECT_FALSE(controller->isLocked());
    if (row.logind == Logind::Mock) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return inhibitors().empty(); }, 2000)) << "still held after unlock";
    }
}

INSTANTIATE_TEST_SUITE_P(Buses, LockBusCallsTest,
                         ::testing::Values(BusRow{"Logind", Logind::Mock, false},
                                           BusRow{"SilentLogindAndScreenSaver", Logind::Silent, true},
                                           BusRow{"NoLogindOnTheSystemBus", Logind::NotOnBus, true},
                                           BusRow{"NoSystemBusAtAll", Logind::NoBus, false}),
                         [](const ::testing::TestParamInfo<BusRow>& row) { return std::string(row.param.name); });

} // namespace
