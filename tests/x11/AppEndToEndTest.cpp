#include "AppDelegate.h"
#include "AppHome.h"
#include "LinuxPlatform.h"
#include "Localizer.h"
#include "LockCycle.h"
#include "TapLockEngine.h"
#include "UpdateController.h"
#include "X11Probe.h"
#include "XTestInput.h"

#include <QAction>
#include <QGuiApplication>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using ow::test::X11Probe;
using ow::test::XTestInput;

namespace {

// Where the lock button is on screen: the lowest run of strongly coloured pixels in the
// middle column of the window (the brand mark above it is the only other colour).
QPoint lockButtonCentre(XTestInput& input, unsigned long window)
{
    const QRect frame = input.rootGeometry(window);
    const QList<unsigned> column = input.column(window, frame.width() / 2);
    int bottom = -1;
    for (int y = int(column.size()) - 1; y >= 0; --y) {
        const int r = int(column[y] >> 16 & 0xFF), g = int(column[y] >> 8 & 0xFF), b = int(column[y] & 0xFF);
        const bool coloured = std::max({r, g, b}) - std::min({r, g, b}) > 60;
        if (coloured && bottom < 0)
            bottom = y;
        if (!coloured && bottom >= 0)
            return {frame.x() + frame.width() / 2, frame.y() + (y + 1 + bottom) / 2};
    }
    return {};
}

// Pixels of the tray icon's red dot in the area of the screen.
int redPixels(const QRect& area)
{
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            count += pixel.red() > 180 && pixel.green() < 80 && pixel.blue() < 80;
        }
    }
    return count;
}

// OrbinWash as a user starts it: the real executable (or the one ORBINWASH_UNDER_TEST
// names, such as the installed one) with a fresh home, in the taskbar or in Debian's
// trayer, an XEmbed system tray in the top right corner.
class AppEndToEndTest : public ::testing::Test {
protected:
    AppEndToEndTest()
        : input(qEnvironmentVariable("DISPLAY"))
    {
    }

    void TearDown() override
    {
        for (QProcess* process : {&app, &second, &trayer}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // The first launch's question was answered. A one-second hold keeps unlocks short.
    void makeHome(bool tray)
    {
        home.emplace(QJsonObject{{QStringLiteral("OWOnboarded"), true},
                                 {QStringLiteral("OWMenuBarMode"), tray},
                                 {QStringLiteral("OWHoldSecondsUser"), 1}});
        ASSERT_TRUE(home->isValid());
        ASSERT_TRUE(input.isOpen());
        if (!tray)
            return;
        trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                QStringLiteral("--align"), QStringLiteral("right"),
                                                QStringLiteral("--widthtype"), QStringLiteral("request"),
                                                QStringLiteral("--height"), QStringLiteral("32")});
        ASSERT_TRUE(trayer.waitForStarted(5000)) << "trayer is missing: scripts/install-deps.sh installs it";
        ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000))
            << "trayer never took the system tray selection";
    }

    void start(QProcess& process)
    {
        process.setProcessEnvironment(home->environment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(qEnvironmentVariable("ORBINWASH_UNDER_TEST", QStringLiteral(ORBINWASH_BIN)), {});
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    unsigned long mainWindow() { return input.findViewableWindow(QStringLiteral("OrbinWash")); }
    unsigned long trayIcon() { return input.findEmbeddedWindow(app.processId(), trayer.processId()); }

    // Viewable windows of the process straight on the root: its menus, overlays, windows.
    QList<unsigned long> topLevelWindowsOf(qint64 pid)
    {
        QList<unsigned long> windows;
        for (unsigned long window : input.stackingOrder()) {
            if (input.isViewable(window) && input.windowPid(window) == pid)
                windows.append(window);
        }
        return windows;
    }

    std::optional<ow::test::AppHome> home;
    XTestInput input;
    QProcess app;
    QProcess second;
    QProcess trayer;
};

TEST_F(AppEndToEndTest, ASecondLaunchExitsAndBringsTheFirstWindowForward)
{
    ASSERT_NO_FATAL_FAILURE(makeHome(false));
    ASSERT_NO_FATAL_FAILURE(start(app));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() != 0; }, 10000));

    // Ctrl+W closes the window; the application keeps running.
    input.focus(mainWindow());
    const unsigned control = input.keycode("Control_L");
    input.key(control, true);
    input.tap(input.keycode("w"));
    input.key(control, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() == 0; }, 5000)) << "Ctrl+W did not close the window";
    EXPECT_EQ(app.state(), QProcess::Running);

    ASSERT_NO_FATAL_FAILURE(start(second));
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mainWindow() != 0; }, 5000)) << "the first instance did not come forward";
    EXPECT_EQ(app.state(), QProcess::Running);
}

// How a person gives the lock command, and what a cloth on the keyboard does meanwhile.
enum class Command { Return, Click, TrayMenu };
enum class Cloth {
    None,
    FromBeforeTheCommand, // a key held since before the command, let go well into the lock
    ThroughTheUnlock,     // a key pressed during the lock, let go after the unlock
};
struct LockWay {
    const char* name;
    Command command;
    int pressMs;
    Cloth cloth;
};

class LockCommandCycles : public AppEndToEndTest, public ::testing::WithParamInterface<LockWay> {
protected:
    void press(unsigned keycode, int ms)
    {
        input.key(keycode, true);
        QTest::qWait(ms);
        input.key(keycode, false);
    }

    void giveCommand(const LockWay& way)
    {
        switch (way.command) {
        case Command::Return:
            input.focus(mainWindow());
            press(input.keycode("Return"), way.pressMs);
            return;
        case Command::Click: {
            const QPoint button = lockButtonCentre(input, mainWindow());
            ASSERT_FALSE(button.isNull()) << "no lock button found in the window";
            input.motion(button.x(), button.y());
            input.button(1, true);
            QTest::qWait(way.pressMs);
            input.button(1, false);
            return;
        }
        case Command::TrayMenu: {
            // A click opens the icon's menu; Down and Return choose its first item.
            const QRect place = input.rootGeometry(trayIcon());
            input.motion(place.center().x(), place.center().y());
            input.button(1, true);
            QTest::qWait(90);
            input.button(1, false);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !topLevelWindowsOf(app.processId()).isEmpty(); }, 5000))
                << "the click opened no menu";
            press(input.keycode("Down"), way.pressMs);
            press(input.keycode("Return"), way.pressMs);
            return;
        }
        }
    }
};

// Whatever gave the command, the lock holds, ends by the hold and stays ended: nothing
// the command or the cloth pressed is left held down to come back as a new lock.
TEST_P(LockCommandCycles, LocksAndUnlockingLeavesTheSessionFree)
{
    const LockWay way = GetParam();
    const bool tray = way.command == Command::TrayMenu;
    ASSERT_NO_FATAL_FAILURE(makeHome(tray));
    ASSERT_NO_FATAL_FAILURE(start(app));
    if (tray) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return trayIcon() != 0; }, 10000)) << "no icon in the tray";
        EXPECT_TRUE(topLevelWindowsOf(app.processId()).isEmpty()) << "in the tray the window waits to be asked for";
    }
    const unsigned long icon = tray ? trayIcon() : 0;
    const unsigned clothKey = input.keycode("x");
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        if (!tray) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() != 0; }, 10000)) << "the main window is not there";
        }
        QTest::qWait(300); // as long as a person takes to reach for the key
        if (way.cloth == Cloth::FromBeforeTheCommand)
            input.key(clothKey, true);
        ASSERT_NO_FATAL_FAILURE(giveCommand(way));
        ASSERT_TRUE(QTest::qWaitFor([&] { return input.keyboardGrabbedByOther(); }, 5000)) << "the command did not lock";
        EXPECT_TRUE(QTest::qWaitFor([&] { return ow::test::watchdogChildOf(app.processId()) > 0; }, 2000))
            << "no watchdog";
        EXPECT_EQ(mainWindow(), 0u) << "the main window stays hidden during the lock";
        if (cycle == 1) {
            // Another program, focused, hears nothing of what is typed.
            X11Probe probe(QStringLiteral(X11_PROBE));
            ASSERT_TRUE(probe.start());
            for (const char* key : {"a", "Return", "space"})
                press(input.keycode(key), 60);
            input.click(1);
            EXPECT_EQ(probe.received(), QStringList());
        }
        if (way.cloth == Cloth::FromBeforeTheCommand) {
            QTest::qWait(1500);
            input.key(clothKey, false);
        }
        if (way.cloth == Cloth::ThroughTheUnlock)
            input.key(clothKey, true);
        ASSERT_TRUE(ow::test::holdBothCtrlKeysUntilUnlocked(input, 5000));
        if (way.cloth == Cloth::ThroughTheUnlock) {
            QTest::qWait(300);
            input.key(clothKey, false);
        }
        const QString trouble = ow::test::troubleAfterUnlock(input, 3000);
        ASSERT_TRUE(trouble.isEmpty()) << qPrintable(trouble);
        if (tray) {
            // The window was not open before the lock, so nothing comes back but the icon.
            EXPECT_TRUE(topLevelWindowsOf(app.processId()).isEmpty());
            EXPECT_EQ(trayIcon(), icon);
        } else {
            EXPECT_NE(mainWindow(), 0u) << "the main window did not come back";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsAPersonDoes, LockCommandCycles,
    ::testing::Values(LockWay{"Return50ms", Command::Return, 50, Cloth::None},
                      LockWay{"Return400ms", Command::Return, 400, Cloth::None},
                      LockWay{"Click200ms", Command::Click, 200, Cloth::None},
                      LockWay{"TrayMenuDownReturn", Command::TrayMenu, 120, Cloth::None},
                      LockWay{"KeyHeldFromBeforeTheCommand", Command::Return, 150, Cloth::FromBeforeTheCommand},
                      LockWay{"KeyHeldThroughTheUnlock", Command::Return, 150, Cloth::ThroughTheUnlock}),
    [](const ::testing::TestParamInfo<LockWay>& row) { return std::string(row.param.name); });

// The shell in this process with the real X11 services, checking in with a local server:
// an unread message shows as a red dot on the icon in the tray.
TEST_F(AppEndToEndTest, AnUnreadMessagePutsARedDotOnTheTrayIcon)
{
    ASSERT_NO_FATAL_FAILURE(makeHome(true));
    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    int checkIns = 0;
    QHttpServer server;
    server.route(QStringLiteral("/check"), [&](const QHttpServerRequest& request) {
        ++checkIns;
        return QHttpServerResponse(QJsonObject{
            {QStringLiteral("n"), QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("n"))},
            {QStringLiteral("ts"), QDateTime::currentSecsSinceEpoch()},
            {QStringLiteral("mid"), messageId},
            {QStringLiteral("msg"), QStringLiteral("Did the lock hold?")},
            {QStringLiteral("tk"), ticket},
        });
    });
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);

    ow::LinuxPlatform platform({.defaultsPath = home->filePath(QStringLiteral("defaults.json"))});
    platform.defaults().setValue(QStringLiteral("OWMenuBarMode"), true);
    platform.defaults().setValue(QStringLiteral("OWOnboarded"), true);
    ow::AppDelegate::Services services = ow::AppDelegate::Services::of(platform);
    services.checkInUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/check").arg(port));
    ow::UpdateController::Setup updates;
    updates.settingsPath = home->filePath(QStringLiteral("updates.ini"));
    updates.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/none.xml")); // the discard port: refused at once
    ow::AppDelegate delegate(services, std::make_unique<ow::TapLockEngine>(platform),
                             std::make_unique<ow::UpdateController>(platform.clock(), platform.http(), updates));
    delegate.applicationDidFinishLaunching();

    // Where the icon is now: Qt may embed a new window for it when the tray answers.
    const qint64 self = QCoreApplication::applicationPid();
    const auto iconPlace = [&] { return input.rootGeometry(input.findEmbeddedWindow(self, trayer.processId())); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !iconPlace().isEmpty() && checkIns == 1; }, 10000))
        << "the tray icon never appeared in the tray";
    QTest::qWait(200); // the icon's first paint
    EXPECT_EQ(redPixels(iconPlace()), 0);

    ticket = QStringLiteral("open");
    messageId = 12;
    delegate.syncWithServer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return redPixels(iconPlace()) >= 4; }, 5000)) << "no red dot on the icon";
    const auto* icon = delegate.findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    bool listed = false;
    for (const QAction* item : icon->contextMenu()->actions())
        listed = listed || (item->isVisible() && item->text() == ow::L("messages.banner_title"));
    EXPECT_TRUE(listed);
}

} // namespace
