#include "DBusInputGuard.h"
#include "FakePlatform.h"
#include "GuardLockEngine.h"
#include "HoldBarView.h"
#include "LinuxInputAccessPermission.h"
#include "Localizer.h"
#include "LockController.h"
#include "LockEngineChoice.h"
#include "LockWindow.h"
#include "TapLockEngine.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

using namespace ow;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kGuard = u"com.orbinlabs.OrbinWash.InputGuard"_s;
const QString kPath = u"/com/orbinlabs/OrbinWash/InputGuard"_s;
const QString kInterface = u"com.orbinlabs.OrbinWash.InputGuard1"_s;

// A bus of the test's own in place of the system bus and, when asked, the mock guard on it,
// run by the test or installed for the bus to start.
class InputGuardBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qunsetenv("DISPLAY"); // no X11 display to lock instead
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"services"_s));
        write(u"bus.conf"_s, u"<busconfig><listen>unix:path=%1/bus</listen><servicedir>%1/services</servicedir>"
                             "<policy context='default'><allow user='*'/><allow own='*'/><allow send_destination='*'/>"
                             "<allow receive_sender='*'/></policy></busconfig>"_s.arg(m_dir.path()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(); // the bus's guard's too
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, u"unix:path="_s + m_dir.filePath(u"bus"_s));
        m_daemon.setProcessEnvironment(environment);
        m_mock.setProcessEnvironment(environment);
        m_daemon.start(u"dbus-daemon"_s, {u"--nofork"_s, u"--print-address=1"_s, u"--config-file="_s + m_dir.filePath(u"bus.conf"_s)});
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        app = QDBusConnection::connectToBus(address, u"app"_s);
        other = QDBusConnection::connectToBus(address, u"other"_s);
        ASSERT_TRUE(app.isConnected() && other.isConnected());
    }
    void TearDown() override
    {
        for (QProcess* process : {&m_mock, &m_daemon}) { // a guard the bus started leaves with it
            process->kill();
            process->waitForFinished();
        }
        for (const QString& name : {u"app"_s, u"other"_s})
            QDBusConnection::disconnectFromBus(name);
    }

    // canLock is the body of the mock's CanLock.
    void startGuard(const QString& canLock = u"ret = (True, '')"_s)
    {
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        const QJsonObject parameters{{u"can-lock"_s, canLock}};
        m_mock.start(QStringLiteral(DBUSMOCK_PYTHON),
                     {u"-m"_s, u"dbusmock"_s, u"--template"_s, QStringLiteral(GUARD_MOCK), u"-p"_s,
                      QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        ASSERT_TRUE(QTest::qWaitFor([&] { return app.interface()->isServiceRegistered(kGuard).value(); }, 10000));
    }
    // The mock guard for the bus to start on the first call, as systemd does: after
    // startSeconds, or never where that is negative.
    void installGuard(int startSeconds)
    {
        const QString start = u"/bin/sh -c \"sleep %1; exec %2 -m dbusmock --template %3 >/dev/null\""_s.arg(startSeconds)
                                  .arg(QStringLiteral(DBUSMOCK_PYTHON), QStringLiteral(GUARD_MOCK));
        write(u"services/guard.service"_s,
              u"[D-BUS Service]\nName=%1\nExec=%2\n"_s.arg(kGuard, startSeconds < 0 ? u"/bin/false"_s : start));
        const QDBusMessage reload = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                                   u"org.freedesktop.DBus"_s, u"ReloadConfig"_s);
        ASSERT_EQ(other.call(reload).type(), QDBusMessage::ReplyMessage);
    }
    void killGuard()
    {
        m_mock.kill();
        m_mock.waitForFinished();
    }
    // Whether the app's end of the lease is open, and how many Release calls came.
    std::pair<bool, uint> lease()
    {
        const QDBusMessage reply = other.call(QDBusMessage::createMethodCall(kGuard, kPath, kInterface, u"Lease"_s));
        return {reply.arguments().value(0).toBool(), reply.arguments().value(1).toUInt()};
    }
    // A signal to the app alone, from the guard as it sends them, or the same from another program.
    void send(bool byGuard, const QString& name, const QString& signature, const QVariant& value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kGuard, kPath, u"org.freedesktop.DBus.Mock"_s,
                                                           u"EmitSignalDetailed"_s);
        call << QString() << name << signature << QVariantList{QVariant::fromValue(QDBusVariant(value))}
             << QVariantMap{{u"destination"_s, app.baseService()}};
        QDBusMessage signal = QDBusMessage::createTargetedSignal(app.baseService(), kPath, kInterface, name);
        signal << value;
        ASSERT_TRUE(byGuard ? other.call(call).type() == QDBusMessage::ReplyMessage : other.send(signal));
    }

    QDBusConnection app{QString()};
    QDBusConnection other{QString()};

private:
    void write(const QString& name, const QString& text)
    {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size());
    }

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_mock;
};

// How the guard is there (installed: the bus starts it after startSeconds, or cannot where
// that is negative), what its CanLock does, how long the app waits, and which engine locks
// then, after a wait within [atLeast, below).
enum class Guard { Missing, Running, Installed };
enum class Engine { Guard, X11Grab, None };
struct ChoiceRow {
    const char* name; Guard guard; int startSeconds; const char* canLock; std::chrono::milliseconds bound;
    Engine chosen; std::chrono::milliseconds atLeast, below;
};

class EngineChoiceTest : public InputGuardBusTest, public ::testing::WithParamInterface<ChoiceRow> {};

// The guard is asked without blocking the main loop; the X11 grab locks only where the guard
// is not installed or says no.
TEST_P(EngineChoiceTest, TheGuardIsWaitedForWhereInstalledWithoutFreezingTheWindow)
{
    const ChoiceRow& row = GetParam();
    if (row.guard == Guard::Running) {
        ASSERT_NO_FATAL_FAILURE(startGuard(QLatin1String(row.canLock)));
    }
    if (row.guard == Guard::Installed) {
        ASSERT_NO_FATAL_FAILURE(installGuard(row.startSeconds));
    }
    FakePlatform platform;
    DBusInputGuard guard(app, row.bound);
    LockEngineChoice choice(std::make_unique<GuardLockEngine>(guard, platform.defaults(), platform.log()),
                            std::make_unique<TapLockEngine>(platform), [] { return true; });
    bool ready = false;
    QElapsedTimer took;
    took.start();
    choice.prepare([&ready] { ready = true; });
    EXPECT_FALSE(ready) << "the answer was waited for in the call";
    ASSERT_TRUE(QTest::qWaitFor([&ready] { return ready; }, 15000));
    EXPECT_GE(took.elapsed(), row.atLeast.count());
    EXPECT_LT(took.elapsed(), row.below.count());
    EXPECT_EQ(LinuxInputAccessPermission(guard, {}).isTrusted(), row.chosen == Engine::Guard);
    EXPECT_EQ(choice.start([](quint64) {}), row.chosen != Engine::None);
    EXPECT_EQ(platform.grab->grabbed, row.chosen == Engine::X11Grab);
    EXPECT_EQ(row.chosen == Engine::Guard && lease().first, row.chosen == Engine::Guard);
    choice.stop();
}

INSTANTIATE_TEST_SUITE_P(Rows, EngineChoiceTest, ::testing::Values(
    ChoiceRow{"NotInstalled", Guard::Missing, 0, nullptr, DBusInputGuard::kAnswerTimeout, Engine::X11Grab, 0ms, 1000ms},
    ChoiceRow{"SaysNo", Guard::Running, 0, "ret = (False, 'no-session')", DBusInputGuard::kAnswerTimeout,
              Engine::X11Grab, 0ms, 1000ms},
    ChoiceRow{"StartsSlowly", Guard::Installed, 2, nullptr, DBusInputGuard::kAnswerTimeout, Engine::Guard, 2000ms,
              DBusInputGuard::kAnswerTimeout},
    ChoiceRow{"NeverAnswers", Guard::Running, 0, "import time\ntime.sleep(4)", 1000ms, Engine::None, 900ms, 3000ms},
    ChoiceRow{"CannotStart", Guard::Installed, -1, nullptr, DBusInputGuard::kAnswerTimeout, Engine::None, 0ms, 3000ms}),
    [](const auto& row) { return std::string(row.param.name); });

// How a lock through the guard ends: the guard does a thing (LetGo: closes its end of the
// lease, then says why; HangUp: closes it without a word; HandOver: gives the test a copy, which
// keeps the lease open), is killed, or the app unlocks; and the reason the system log has then.
struct EndRow { const char* name; const char* guardDoes; bool killed; bool appUnlocks; const char* logged; };

class GuardedLockTest : public InputGuardBusTest, public ::testing::WithParamInterface<EndRow> {};

// Only the guard that granted the lock is heard; every end is one teardown, the lease closed,
// and Release asked only when the app ends the lock.
TEST_P(GuardedLockTest, OnlyTheGuardIsHeardAndEveryEndIsOneTeardown)
{
    const EndRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(startGuard());
    FakePlatform platform;
    DBusInputGuard guard(app);
    LockController controller(std::make_unique<GuardLockEngine>(guard, platform.defaults(), platform.log()),
                              LockController::Services::of(platform));
    int unlocks = 0;
    controller.setOnUnlock([&unlocks] { ++unlocks; });
    ASSERT_TRUE(controller.lock());
    EXPECT_EQ(lease(), std::make_pair(true, 0u));
    const auto shows = [&](double progress, bool warning) {
        platform.clock().runPosted();
        const LockWindow* window = controller.lockWindows().value(0);
        return window && window->holdBar()->progress() == progress && window->warningLabel()->isVisible() == warning;
    };
    send(false, u"DevicesRefused"_s, u"as"_s, QStringList{u"Stranger"_s});
    send(false, u"Progress"_s, u"d"_s, 0.5);
    send(false, u"Released"_s, u"s"_s, u"chord"_s);
    QTest::qWait(300);
    EXPECT_TRUE(shows(0.0, false));
    ASSERT_TRUE(controller.isLocked());
    send(true, u"DevicesRefused"_s, u"as"_s, QStringList{u"Remapper Keyboard"_s});
    send(true, u"Progress"_s, u"d"_s, 0.5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows(0.5, true); }, 2000));
    EXPECT_EQ(controller.lockWindows()[0]->warningLabel()->text(), L("lock.devices_not_locked", u"Remapper Keyboard"_s));

    std::optional<QDBusPendingCall> done; // not waited for: the app's loop runs on meanwhile
    if (row.guardDoes)
        done = other.asyncCall(QDBusMessage::createMethodCall(kGuard, kPath, kInterface, QLatin1String(row.guardDoes)));
    if (row.killed) {
        if (done)
            done->waitForFinished();
        killGuard();
    }
    if (row.appUnlocks)
        controller.unlock();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        platform.clock().runPosted();
        return !controller.isLocked();
    }, 3000));
    EXPECT_EQ(unlocks, 1);
    const QStringList& lines = platform.log().lines;
    ASSERT_EQ(lines.size(), row.logged ? 1 : 0);
    EXPECT_TRUE(!row.logged || lines[0].contains(QLatin1String(row.logged))) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(row.killed || QTest::qWaitFor([&] { return lease() == std::make_pair(false, row.appUnlocks ? 1u : 0u); }, 2000));
}

INSTANTIATE_TEST_SUITE_P(Rows, GuardedLockTest, ::testing::Values(
    EndRow{"AppUnlocks", nullptr, false, true, nullptr}, EndRow{"GuardReleases", "LetGo", false, false, nullptr},
    EndRow{"GuardClosesTheLease", "HangUp", false, false, InputGuard::kLeaseHungUp},
    EndRow{"GuardKilled", nullptr, true, false, "guard-"}, // the lease or the bus, whichever tells first
    EndRow{"GuardLeavesTheBus", "HandOver", true, false, InputGuard::kLeftTheBus}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
