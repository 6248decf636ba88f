#pragma once

#include "AppHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>

namespace ow::test {

using namespace Qt::StringLiterals;

inline const QString kGuard = u"com.orbinlabs.OrbinWash.InputGuard"_s;
inline const QString kGuardPath = u"/com/orbinlabs/OrbinWash/InputGuard"_s;


// Compositors refuse to run as root, or should not: root hands the desktop to nobody.
inline QStringList asDesktopUser(const QString& program, const QStringList& arguments)
{
    if (::geteuid() != 0)
        return QStringList{program} + arguments;
    return QStringList{u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, u"--"_s, program}
        + arguments;
}

// Lit is above near-black; coloured is the bar's fill, not its grey track or the text.
inline bool isLit(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) > 24;
}
inline bool isColoured(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)}) > 60;
}

// The share of the area's pixels that pass.
inline double share(const QImage& shot, const QRect& area, bool (*passes)(QRgb))
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += passes(shot.pixel(x, y));
    }
    return area.isEmpty() ? 0.0 : double(count) / (area.width() * area.height());
}
inline double blackShare(const QImage& shot)
{
    return share(shot, shot.rect(), [](QRgb p) { return !isLit(p); });
}

// The hold bar's track: the longest unbroken run of lit pixels on a row (text has gaps,
// the mark is narrower).
inline QRect barTrack(const QImage& shot)
{
    QRect best;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0, start = 0; x <= shot.width(); ++x) {
            if (x < shot.width() && isLit(shot.pixel(x, y)))
                continue;
            if (x - start > best.width())
                best = QRect(start, y, x - start, 1);
            start = x + 1;
        }
    }
    return best;
}

// The real program in a headless compositor whose runtime folder is the fresh home's, with
// a stand-in input guard on a system bus of the test's own.
class WaylandSession : public ::testing::Test {
protected:
    // The home, with copies of the program and of `files` that the desktop user can reach
    // wherever the build is (root's home is closed), and given to that user.
    void SetUp() override { makeHome(); }
    void makeHome(bool tray = false, const QStringList& files = {})
    {
        home.emplace(QJsonObject{{u"OWOnboarded"_s, true}, {u"OWMenuBarMode"_s, tray}, {u"OWHoldSecondsUser"_s, 1}});
        ASSERT_TRUE(home->isValid());
        ASSERT_TRUE(QDir().mkpath(home->filePath(u"bin"_s)));
        for (const QString& path : QStringList{u"" ORBINWASH_BIN ""_s, u"" WATCHDOG_BIN ""_s, u"" FETCH_BIN ""_s} + files)
            ASSERT_TRUE(QFile::copy(path, home->filePath(u"bin/"_s + QFileInfo(path).fileName())));
        env = home->environment();
        env.remove(u"DISPLAY"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        compositor.setStandardOutputFile(home->filePath(u"compositor.log"_s));
        compositor.setStandardErrorFile(home->filePath(u"compositor.log"_s), QIODevice::Append);
    }
    // After the home's files are in place.
    void handOverHome()
    {
        if (::geteuid() == 0) {
            ASSERT_EQ(QProcess::execute(u"chown"_s, {u"-R"_s, u"65534:65534"_s, home->filePath(u"."_s)}), 0);
        }
    }
    // The system bus of the test, with the mock guard on it; the guard's side is `guard`.
    void startGuardBus()
    {
        bus.start(u"dbus-daemon"_s, {u"--config-file=" BUS_CONFIG ""_s, u"--nofork"_s, u"--print-address=1"_s});
        ASSERT_TRUE(bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
        mock.setProcessEnvironment(env);
        mock.setStandardOutputFile(QProcess::nullDevice());
        mock.start(QStringLiteral(DBUSMOCK_PYTHON), {u"-m"_s, u"dbusmock"_s, u"--template"_s, QStringLiteral(GUARD_MOCK)});
        guard = QDBusConnection::connectToBus(address, u"guard"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return guard.interface()->isServiceRegistered(kGuard).value(); }, 10000));
    }
    bool leaseHeld()
    {
        const QDBusMessage reply
            = guard.call(QDBusMessage::createMethodCall(kGuard, kGuardPath, kGuard + u"1"_s, u"Lease"_s));
        return reply.arguments().value(0).toBool();
    }
    void guardEmits(const QString& name, const QString& signature, const QVariant& value)
    {
        QDBusMessage call
            = QDBusMessage::createMethodCall(kGuard, kGuardPath, u"org.freedesktop.DBus.Mock"_s, u"EmitSignal"_s);
        call << QString() << name << signature << QVariantList{QVariant::fromValue(QDBusVariant(value))};
        ASSERT_EQ(guard.call(call).type(), QDBusMessage::ReplyMessage);
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(u"guard"_s);
        // Asked to end, a compositor takes its helper clients with it.
        compositor.terminate();
        for (QProcess* process : {&app, &mock, &bus, &compositor}) {
            if (!process->waitForFinished(process == &compositor ? 3000 : 0))
                process->kill();
            process->waitForFinished(3000);
        }
    }

    void launch(QProcess& process, const QString& program, const QStringList& arguments = {})
    {
        const QStringList command = asDesktopUser(program, arguments);
        process.setProcessEnvironment(env);
        process.start(command.first(), command.mid(1));
        ASSERT_TRUE(process.waitForStarted(5000)) << program.toStdString();
    }
    // Runs a tool to its end; what it printed.
    QByteArray run(const QString& program, const QStringList& arguments)
    {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        launch(tool, program, arguments);
        tool.waitForFinished(10000);
        return tool.readAllStandardOutput();
    }
    // The name of the compositor's socket like pattern, once it is there.
    QString runtimeSocket(const QString& pattern)
    {
        QString name;
        (void)QTest::qWaitFor([&] {
            name = QDir(home->filePath(u"run"_s)).entryList({pattern}, QDir::System).value(0);
            return !name.isEmpty();
        }, 10000);
        return name;
    }

    std::optional<AppHome> home;
    QProcessEnvironment env;
    QProcess compositor, bus, mock, app;
    QDBusConnection guard{QString()};
};

} // namespace ow::test
