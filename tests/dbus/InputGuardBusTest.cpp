#include "DBusInputGuard.h"
#include "FakePlatform.h"
#include "GuardLockEngine.h"
#include "HoldBarView.h"
#include "LinuxInputAccessPermission.h"
#include "Localizer.h"
#include "LockController.h"
#include "LockWindow.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>

using namespace ow;
using namespace Qt::StringLiterals;

namespace {

const QString kGuard = u"com.orbinlabs.OrbinWash.InputGuard"_s;
const QString kPath = u"/com/orbinlabs/OrbinWash/InputGuard"_s;
const QString kInterface = u"com.orbinlabs.OrbinWash.InputGuard1"_s;

// A bus of the test's own in place of the system bus and, when asked, the mock guard on it.
class InputGuardBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qunsetenv("DISPLAY"); // no X11 grab to fall back on
        m_daemon.start(u"dbus-daemon"_s,
                       {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s, u"--address=unix:tmpdir=/tmp"_s});
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        app = QDBusConnection::connectToBus(m_address, u"app"_s);
        other = QDBusConnection::connectToBus(m_address, u"other"_s);
        ASSERT_TRUE(app.isConnected() && other.isConnected());
    }
    void TearDown() override
    {
        for (QProcess* process : {&m_mock, &m_daemon}) {
            process->kill();
            process->waitForFinished();
        }
        for (const QString& name : {u"app"_s, u"other"_s})
            QDBusConnection::disconnectFromBus(name);
    }

    // canLock is the body of the mock's CanLock.
    void startGuard(const QString& canLock = u"ret = (True, '')"_s)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, m_address);
        m_mock.setProcessEnvironment(environment);
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        const QJsonObject parameters{{u"can-lock"_s, canLock}};
        m_mock.start(QStringLiteral(DBUSMOCK_PYTHON),
                     {u"-m"_s, u"dbusmock"_s, u"--template"_s, QStringLiteral(GUARD_MOCK), u"-p"_s,
                      QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        ASSERT_TRUE(QTest::qWaitFor([&] { return app.interface()->isServiceRegistered(kGuard).value(); }, 10000));
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
    QProcess m_daemon;
    QProcess m_mock;
    QString m_address;
};

// No guard on the bus, or one that does not answer: no, within a moment, and no lock.
TEST_F(InputGuardBusTest, AMissingOrSilentGuardIsANoWithinAMoment)
{
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "missing");
        if (silent) {
            ASSERT_NO_FATAL_FAILURE(startGuard(u"import time\ntime.sleep(3)"_s));
        }
        DBusInputGuard guard(app);
        QElapsedTimer took;
        took.start();
        EXPECT_FALSE(LinuxInputAccessPermission(guard, {}).isTrusted());
        EXPECT_FALSE(guard.canLock());
        EXPECT_TRUE(silent || !guard.lock(3, 900, {}));
        EXPECT_LT(took.elapsed(), 1000);
    }
}

// The lease stays open exactly as long as the lock, ended by the guard, then by the app; only
// the guard's own signals count.
TEST_F(InputGuardBusTest, TheLeaseIsHeldForTheLockAndOnlyTheGuardIsHeard)
{
    ASSERT_NO_FATAL_FAILURE(startGuard());
    DBusInputGuard guard(app);
    ASSERT_TRUE(LinuxInputAccessPermission(guard, {}).isTrusted());
    for (const bool byGuard : {true, false}) {
        SCOPED_TRACE(byGuard ? "by the guard" : "by the app");
        FakePlatform platform;
        LockController controller(std::make_unique<GuardLockEngine>(guard, platform.defaults()),
                                  LockController::Services::of(platform));
        int unlocks = 0;
        controller.setOnUnlock([&] { ++unlocks; });
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
        EXPECT_EQ(controller.lockWindows()[0]->warningLabel()->text(),
                  L("lock.devices_not_locked", u"Remapper Keyboard"_s));
        if (byGuard)
            send(true, u"Released"_s, u"s"_s, u"chord"_s);
        else
            controller.unlock();
        EXPECT_TRUE(QTest::qWaitFor([&] {
            platform.clock().runPosted();
            return !controller.isLocked();
        }, 2000));
        EXPECT_EQ(unlocks, 1);
        // Release is asked only when the app ends the lock.
        EXPECT_TRUE(QTest::qWaitFor([&] { return lease() == std::make_pair(false, byGuard ? 0u : 1u); }, 2000));
    }
}

} // namespace
