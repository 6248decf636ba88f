#include "AppDelegate.h"
#include "AppHome.h"
#include "ClientInfo.h"
#include "LinuxPlatform.h"
#include "Localizer.h"
#include "LockCycle.h"
#include "TapLockEngine.h"
#include "UpdateController.h"
#include "X11Connection.h"
#include "X11Probe.h"
#include "XTestInput.h"

#include <QAction>
#include <QElapsedTimer>
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

QString orbinwash()
{
    return qEnvironmentVariable("ORBINWASH_UNDER_TEST", QStringLiteral(ORBINWASH_BIN));
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

    void start(QProcess& process, const QStringList& arguments = {})
    {
        process.setProcessEnvironment(home->environment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(orbinwash(), arguments);
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

// What a later `orbinwash` does and tells a terminal or a script, in the user's language.
// Without options it brings the first one's window forward (closed with Ctrl+W, which does
// not quit); that, help, the version and mistakes need no display (DISPLAY names a server
// that is not there). A lock is refused with its reason while another program holds the
// keyboard, and while a lock runs; with `--for 5` it holds, and ends by itself on time.
TEST_F(AppEndToEndTest, ALaterLaunchDoesWhatItIsToldOrSaysWhyNot)
{
    ASSERT_NO_FATAL_FAILURE(makeHome(false));
    ASSERT_NO_FATAL_FAILURE(start(app));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() != 0; }, 10000));
    input.focus(mainWindow());
    input.key(input.keycode("Control_L"), true);
    input.tap(input.keycode("w"));
    input.key(input.keycode("Control_L"), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() == 0; }, 5000)) << "Ctrl+W did not close the window";
    const QStringList range{"1", "900"};
    const struct { QStringList arguments; const char* language; bool heldElsewhere; int exitCode; QString out; const char* line; QStringList fill; } rows[] = {
        {{}, "en", false, 0, "", nullptr, {}},
        {{"--help"}, "en", false, 0, "--lock", nullptr, {}},
        {{"-v"}, "en", false, 0, "OrbinWash " + ow::appVersion() + "\n", nullptr, {}},
        {{"--lock", "--for", "0"}, "en", false, 2, "", "cli.bad_seconds", range},
        {{"--lock", "--for", "901"}, "pl", false, 2, "", "cli.bad_seconds", range},
        {{"--lock", "--for", "2.5"}, "en", false, 2, "", "cli.bad_seconds", range},
        {{"--lock", "--for"}, "en", false, 2, "", "cli.bad_seconds", range},
        {{"--for", "5"}, "en", false, 2, "", "cli.for_needs_lock", {}},
        {{"--bogus"}, "de", false, 2, "", "cli.unknown_option", {"bogus"}},
        {{"now"}, "ja", false, 2, "", "cli.unexpected_argument", {"now"}},
        {{"--lock"}, "en", true, 1, "", "cli.refused_input_busy", {}},
        {{"--lock", "--for", "5"}, "en", false, 0, "", nullptr, {}},
        {{"--lock"}, "fr", false, 1, "", "cli.refused_already_locked", {}},
    };
    QElapsedTimer lockedFor;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        const std::unique_ptr<ow::X11Connection> elsewhere = row.heldElsewhere ? ow::test::competingGrab() : nullptr;
        ASSERT_EQ(elsewhere != nullptr, row.heldElsewhere);
        const bool locks = row.arguments.contains("--lock") && row.exitCode != 2;
        QProcessEnvironment environment = home->environment();
        environment.insert(QStringLiteral("LANGUAGE"), QString::fromLatin1(row.language));
        if (!locks)
            environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":999"));
        QProcess command;
        command.setProcessEnvironment(environment);
        command.start(orbinwash(), row.arguments);
        if (locks && row.exitCode == 0) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return input.keyboardGrabbedByOther(); }, 5000));
            lockedFor.start();
        }
        // It may have ended already, while the grab was awaited.
        ASSERT_TRUE(command.state() == QProcess::NotRunning || command.waitForFinished(3000));
        EXPECT_EQ(command.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(command.exitCode(), row.exitCode);
        EXPECT_EQ(app.state(), QProcess::Running);
        EXPECT_TRUE(!row.arguments.isEmpty() || QTest::qWaitFor([&] { return mainWindow() != 0; }, 5000))
            << "the window did not come forward";
        EXPECT_TRUE(QString::fromUtf8(command.readAllStandardOutput()).contains(row.out));
        const ow::Localizer language({QString::fromLatin1(row.language)});
        EXPECT_EQ(command.readAllStandardError().toStdString(),
                  row.line ? QStringLiteral("orbinwash: %1\n").arg(language.format(row.line, row.fill)).toStdString() : "");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !input.keyboardGrabbedByOther(); }, 7000));
    EXPECT_NEAR(double(lockedFor.elapsed()), 5000.0, 200.0);
    const QString trouble = ow::test::troubleAfterUnlock(input, 1000);
    EXPECT_TRUE(trouble.isEmpty()) << qPrintable(trouble);
    EXPECT_NE(mainWindow(), 0u);
}

// How a person gives the lock command, and what a cloth on the keyboard does meanwhile.
// LockOption is `orbinwash --lock` from a terminal, or with keys from a desktop's shortcut:
// the first one starts OrbinWash, the later ones hand over to it.
enum class Command { Return, Click, TrayMenu, LockOption };
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
    std::vector<const char*> keys = {}; // a shortcut's, the last one pressed with the others' modifiers
    unsigned modifiers = 0;             // X modifier masks
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
        case Command::LockOption: {
            // The desktop takes the keyboard while the shortcut's keys are down.
            XTestInput desktop(qEnvironmentVariable("DISPLAY"));
            if (!way.keys.empty())
                desktop.grabKey(input.keycode(way.keys.back()), way.modifiers);
            for (const char* key : way.keys)
                input.key(input.keycode(key), true);
            EXPECT_EQ(input.keyboardGrabbedByOther(), !way.keys.empty()) << "the desktop did not take its shortcut";
            QProcess& command = app.state() == QProcess::Running ? second : app;
            QElapsedTimer took;
            took.start();
            ASSERT_NO_FATAL_FAILURE(start(command, {QStringLiteral("--lock")}));
            QTest::qWait(way.pressMs);
            for (auto key = way.keys.rbegin(); key != way.keys.rend(); ++key)
                input.key(input.keycode(*key), false);
            if (&command == &second) {
                ASSERT_TRUE(second.waitForFinished(int(std::max<qint64>(0, 1000 - took.elapsed()))))
                    << "the command to the running OrbinWash did not exit within a second";
                EXPECT_EQ(second.exitCode(), 0);
            }
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
    const bool fromOutside = way.command == Command::LockOption;
    ASSERT_NO_FATAL_FAILURE(makeHome(tray));
    if (!fromOutside) {
        ASSERT_NO_FATAL_FAILURE(start(app));
    }
    if (tray) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return trayIcon() != 0; }, 10000)) << "no icon in the tray";
        EXPECT_TRUE(topLevelWindowsOf(app.processId()).isEmpty()) << "in the tray the window waits to be asked for";
    }
    const unsigned long icon = tray ? trayIcon() : 0;
    const unsigned clothKey = input.keycode("x");
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        const bool launches = fromOutside && cycle == 1;
        if (!tray && !launches) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow() != 0; }, 10000)) << "the main window is not there";
        }
        QTest::qWait(300); // as long as a person takes to reach for the key
        if (way.cloth == Cloth::FromBeforeTheCommand)
            input.key(clothKey, true);
        ASSERT_NO_FATAL_FAILURE(giveCommand(way));
        bool shownFirst = false; // by a command that starts OrbinWash
        ASSERT_TRUE(QTest::qWaitFor([&] {
            shownFirst = shownFirst || (launches && mainWindow() != 0);
            return input.keyboardGrabbedByOther();
        }, 5000)) << "the command did not lock";
        EXPECT_FALSE(shownFirst) << "the window showed before the lock";
        EXPECT_EQ(app.state(), QProcess::Running);
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
        EXPECT_TRUE(input.keyboardGrabbedByOther()) << "the lock ended before the unlock keys";
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
                      LockWay{"KeyHeldThroughTheUnlock", Command::Return, 150, Cloth::ThroughTheUnlock},
                      LockWay{"Terminal", Command::LockOption, 0, Cloth::None},
                      LockWay{"SuperL50ms", Command::LockOption, 50, Cloth::None, {"Super_L", "l"}, 0x40},
                      LockWay{"SuperL300ms", Command::LockOption, 300, Cloth::None, {"Super_L", "l"}, 0x40},
                      LockWay{"CtrlAltL50ms", Command::LockOption, 50, Cloth::None, {"Control_L", "Alt_L", "l"}, 0x0c},
                      LockWay{"CtrlAltL300ms", Command::LockOption, 300, Cloth::None, {"Control_L", "Alt_L", "l"}, 0x0c}),
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

    ow::LinuxPlatform platform(
        {.defaultsPath = home->filePath(QStringLiteral("defaults.json")), .fetchHelper = QStringLiteral(FETCH_BIN)});
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
