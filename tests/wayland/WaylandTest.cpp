#include "AppHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString kGuard = u"com.orbinlabs.OrbinWash.InputGuard"_s;
const QString kPath = u"/com/orbinlabs/OrbinWash/InputGuard"_s;

// sway refuses to run as root: root hands the desktop to nobody.
QStringList asDesktopUser(const QString& program, const QStringList& arguments)
{
    if (::geteuid() != 0)
        return QStringList{program} + arguments;
    return QStringList{u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, u"--"_s, program}
        + arguments;
}

// Lit is above near-black; coloured is the bar's fill, not its grey track or the text.
bool isLit(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) > 24;
}
bool isColoured(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)}) > 60;
}

// The share of the area's pixels that pass.
double share(const QImage& shot, const QRect& area, bool (*passes)(QRgb))
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += passes(shot.pixel(x, y));
    }
    return area.isEmpty() ? 0.0 : double(count) / (area.width() * area.height());
}
double blackShare(const QImage& shot)
{
    return share(shot, shot.rect(), [](QRgb p) { return !isLit(p); });
}

// The hold bar's track: the longest unbroken run of lit pixels on a row (text has gaps,
// the mark is narrower).
QRect barTrack(const QImage& shot)
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

// The real program in a headless compositor whose runtime folder is the fresh home's.
class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home.emplace(QJsonObject{{u"OWOnboarded"_s, true}, {u"OWMenuBarMode"_s, false}, {u"OWHoldSecondsUser"_s, 1}});
        ASSERT_TRUE(home->isValid());
        // Copies the desktop user can reach, wherever the build is (root's home is closed).
        ASSERT_TRUE(QDir().mkpath(home->filePath(u"bin"_s)));
        for (const char* file : {ORBINWASH_BIN, WATCHDOG_BIN, SWAY_CONFIG}) {
            const QString path = QString::fromUtf8(file);
            ASSERT_TRUE(QFile::copy(path, home->filePath(u"bin/"_s + QFileInfo(path).fileName())));
        }
        if (::geteuid() == 0) {
            ASSERT_EQ(QProcess::execute(u"chown"_s, {u"-R"_s, u"65534:65534"_s, home->filePath(u"."_s)}), 0);
        }
        env = home->environment();
        env.remove(u"DISPLAY"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        compositor.setStandardOutputFile(home->filePath(u"compositor.log"_s));
        compositor.setStandardErrorFile(home->filePath(u"compositor.log"_s), QIODevice::Append);
    }
    void TearDown() override
    {
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

    std::optional<ow::test::AppHome> home;
    QProcessEnvironment env;
    QProcess compositor, bus, mock, app;
};

// Headless sway with two outputs, the mock guard on a bus of the test's own, and the app.
class SwayTest : public WaylandTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(WaylandTest::SetUp());
        for (const auto& [name, value] : {std::pair{u"WLR_BACKENDS"_s, u"headless"_s}, {u"WLR_RENDERER"_s, u"pixman"_s},
                                          {u"WLR_LIBINPUT_NO_DEVICES"_s, u"1"_s}})
            env.insert(name, value);
        ASSERT_NO_FATAL_FAILURE(launch(compositor, u"sway"_s, {u"-c"_s, home->filePath(u"bin/sway.config"_s)}));
        const QString display = runtimeSocket(u"wayland-?"_s), ipc = runtimeSocket(u"sway-ipc.*.sock"_s);
        ASSERT_FALSE(display.isEmpty() || ipc.isEmpty()) << "sway did not start: see " << home->filePath(u"compositor.log"_s).toStdString();
        env.insert(u"WAYLAND_DISPLAY"_s, display);
        env.insert(u"SWAYSOCK"_s, home->filePath(u"run/"_s + ipc));
        run(u"swaymsg"_s, {u"create_output"_s});

        bus.start(u"dbus-daemon"_s, {u"--config-file=" BUS_CONFIG ""_s, u"--nofork"_s, u"--print-address=1"_s});
        ASSERT_TRUE(bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
        mock.setProcessEnvironment(env);
        mock.setStandardOutputFile(QProcess::nullDevice());
        mock.start(QStringLiteral(DBUSMOCK_PYTHON), {u"-m"_s, u"dbusmock"_s, u"--template"_s, QStringLiteral(GUARD_MOCK)});
        guard = QDBusConnection::connectToBus(address, u"test"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return guard.interface()->isServiceRegistered(kGuard).value(); }, 10000));
        env.insert(u"WAYLAND_DEBUG"_s, u"client"_s); // the app's alone, not the tools'
        ASSERT_NO_FATAL_FAILURE(launch(app, home->filePath(u"bin/orbinwash"_s)));
        env.remove(u"WAYLAND_DEBUG"_s);
    }
    void TearDown() override
    {
        WaylandTest::TearDown();
        QDBusConnection::disconnectFromBus(u"test"_s);
    }

    QStringList outputs()
    {
        QStringList names;
        for (const QJsonValue output : QJsonDocument::fromJson(run(u"swaymsg"_s, {u"-t"_s, u"get_outputs"_s})).array())
            names.append(output[u"name"_s].toString());
        return names;
    }
    // The app's windows in sway's tree: the output each is on, and whether it fills it.
    QList<std::pair<QString, bool>> windows()
    {
        QList<std::pair<QString, bool>> found;
        const std::function<void(const QJsonObject&, QString)> walk = [&](const QJsonObject& node, QString output) {
            if (node[u"type"_s] == u"output"_s)
                output = node[u"name"_s].toString();
            if (node[u"app_id"_s] == u"orbinwash"_s)
                found.append({output, node[u"fullscreen_mode"_s].toInt() == 1});
            for (const QString& key : {u"nodes"_s, u"floating_nodes"_s}) {
                for (const QJsonValue child : node[key].toArray())
                    walk(child.toObject(), output);
            }
        };
        walk(QJsonDocument::fromJson(run(u"swaymsg"_s, {u"-t"_s, u"get_tree"_s})).object(), {});
        return found;
    }
    bool onlyTheMainWindow()
    {
        const auto shown = windows();
        return shown.size() == 1 && !shown[0].second;
    }
    // The surfaces that have a shortcuts inhibitor now, by the app's protocol log so far.
    QStringList inhibitedSurfaces()
    {
        static const QRegularExpression request(
            uR"(-> zwp_keyboard_shortcuts_inhibit(?:_manager_v1@\d+\.inhibit_shortcuts\(new id )"
            uR"(zwp_keyboard_shortcuts_inhibitor_v1@(\d+), wl_surface@(\d+)|or_v1@(\d+)\.destroy\())"_s);
        protocolLog += app.readAllStandardError();
        QHash<QString, QString> live;
        for (auto it = request.globalMatch(QString::fromLatin1(protocolLog)); it.hasNext();) {
            const QRegularExpressionMatch made = it.next();
            if (made.hasCaptured(1))
                live.insert(made.captured(1), made.captured(2));
            else
                live.remove(made.captured(3));
        }
        return live.values();
    }
    bool oneInhibitorPerOverlay()
    {
        const QStringList surfaces = inhibitedSurfaces();
        return surfaces.size() == outputs().size() && QSet<QString>(surfaces.begin(), surfaces.end()).size() == surfaces.size();
    }
    QImage shot(const QString& output) { return QImage::fromData(run(u"grim"_s, {u"-o"_s, output, u"-"_s}), "PNG"); }
    // Each output filled by an overlay and black around its few lines.
    bool overlaysCoverEveryOutput()
    {
        const auto shown = windows();
        for (const QString& output : outputs()) {
            if (!shown.contains(std::make_pair(output, true)) || blackShare(shot(output)) < 0.9)
                return false;
        }
        return true;
    }
    bool leaseHeld()
    {
        const QDBusMessage reply = guard.call(QDBusMessage::createMethodCall(kGuard, kPath, kGuard + u"1"_s, u"Lease"_s));
        return reply.arguments().value(0).toBool();
    }
    void guardEmits(const QString& name, const QString& signature, const QVariant& value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kGuard, kPath, u"org.freedesktop.DBus.Mock"_s, u"EmitSignal"_s);
        call << QString() << name << signature << QVariantList{QVariant::fromValue(QDBusVariant(value))};
        ASSERT_EQ(guard.call(call).type(), QDBusMessage::ReplyMessage);
    }

    QDBusConnection guard{QString()};
    QByteArray protocolLog;
};

TEST_F(SwayTest, TheLockCoversEveryOutputFollowsTheGuardAndEndsWithIt)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return onlyTheMainWindow(); }, 10000)) << "the main window never showed";
    for (const QString& output : outputs())
        EXPECT_LT(blackShare(shot(output)), 0.5) << output.toStdString();

    // wtype's keyboard appears first: a key sent with it would come before the app has a keyboard.
    run(u"wtype"_s, {u"-s"_s, u"300"_s, u"-k"_s, u"Return"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return leaseHeld(); }, 5000)) << "Return did not lock with the guard";
    EXPECT_TRUE(QTest::qWaitFor([&] { return overlaysCoverEveryOutput(); }, 5000));
    run(u"swaymsg"_s, {u"create_output"_s});
    EXPECT_TRUE(QTest::qWaitFor([&] { return outputs().size() == 3 && overlaysCoverEveryOutput(); }, 5000))
        << "an output added during the lock stayed open";
    EXPECT_TRUE(QTest::qWaitFor([&] { return oneInhibitorPerOverlay(); }, 3000)) << "sway's shortcuts stayed on";

    const QString output = outputs().constFirst();
    const QRect track = barTrack(shot(output));
    ASSERT_LT(share(shot(output), track, isColoured), 0.05);
    for (const double progress : {0.5, 0.25, 1.0, 0.0}) {
        SCOPED_TRACE(progress);
        guardEmits(u"Progress"_s, u"d"_s, progress);
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(share(shot(output), track, isColoured) - progress) < 0.08; },
                                    3000));
    }

    guardEmits(u"Released"_s, u"s"_s, u"chord"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return onlyTheMainWindow(); }, 5000)) << "the window did not come back";
    EXPECT_FALSE(leaseHeld());
    EXPECT_TRUE(QTest::qWaitFor([&] { return inhibitedSurfaces().isEmpty(); }, 3000));
}

// Weston too maps the window: a buffer goes to a surface whose configure was acknowledged.
TEST_F(WaylandTest, StartsInWeston)
{
    ASSERT_NO_FATAL_FAILURE(launch(compositor, u"weston"_s, {u"--backend=headless-backend.so"_s, u"--socket=wayland-ow"_s}));
    ASSERT_EQ(runtimeSocket(u"wayland-ow"_s), u"wayland-ow"_s);
    env.insert(u"WAYLAND_DISPLAY"_s, u"wayland-ow"_s);
    env.insert(u"WAYLAND_DEBUG"_s, u"client"_s);
    QByteArray log;
    ASSERT_NO_FATAL_FAILURE(launch(app, home->filePath(u"bin/orbinwash"_s)));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        log += app.readAllStandardError();
        const qsizetype acknowledged = log.indexOf(".ack_configure(");
        return acknowledged >= 0 && log.indexOf(".attach(wl_buffer", acknowledged) >= 0;
    }, 10000));
    QTest::qWait(500);
    EXPECT_EQ(app.state(), QProcess::Running);
}

} // namespace
