#include "WaylandSession.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

using namespace ow::test;

// Headless sway with two outputs, the mock guard on a bus of the test's own, and the app.
class SwayTest : public WaylandSession {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(makeHome(false, {u"" SWAY_CONFIG ""_s}));
        ASSERT_NO_FATAL_FAILURE(handOverHome());
        for (const auto& [name, value] : {std::pair{u"WLR_BACKENDS"_s, u"headless"_s}, {u"WLR_RENDERER"_s, u"pixman"_s},
                                          {u"WLR_LIBINPUT_NO_DEVICES"_s, u"1"_s}})
            env.insert(name, value);
        ASSERT_NO_FATAL_FAILURE(launch(compositor, u"sway"_s, {u"-c"_s, home->filePath(u"bin/sway.config"_s)}));
        const QString display = runtimeSocket(u"wayland-?"_s), ipc = runtimeSocket(u"sway-ipc.*.sock"_s);
        ASSERT_FALSE(display.isEmpty() || ipc.isEmpty()) << "sway did not start: see " << home->filePath(u"compositor.log"_s).toStdString();
        env.insert(u"WAYLAND_DISPLAY"_s, display);
        env.insert(u"SWAYSOCK"_s, home->filePath(u"run/"_s + ipc));
        run(u"swaymsg"_s, {u"create_output"_s});

        ASSERT_NO_FATAL_FAILURE(startGuardBus());
        env.insert(u"WAYLAND_DEBUG"_s, u"client"_s); // the app's alone, not the tools'
        ASSERT_NO_FATAL_FAILURE(launch(app, home->filePath(u"bin/orbinwash"_s)));
        env.remove(u"WAYLAND_DEBUG"_s);
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
    // Whether the app asked for anything that makes a compositor ask the user a question,
    // by its protocol log so far: GNOME asks before it lets shortcuts be inhibited.
    bool askedForAQuestion()
    {
        protocolLog += app.readAllStandardError();
        return protocolLog.contains(".inhibit_shortcuts(");
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
    EXPECT_FALSE(askedForAQuestion());
}

// Weston too maps the window: a buffer goes to a surface whose configure was acknowledged.
TEST_F(WaylandSession, StartsInWeston)
{
    ASSERT_NO_FATAL_FAILURE(handOverHome());
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
