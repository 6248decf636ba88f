#include "AppDelegate.h"
#include "AppHome.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeLauncherBadge.h"
#include "FakeLockWatchdog.h"
#include "FakeLoginItem.h"
#include "FakePowerKeyInhibitor.h"
#include "FakeSystemLog.h"
#include "Localizer.h"
#include "LockCycle.h"
#include "MemoryUserDefaults.h"
#include "QtClock.h"
#include "QtHttpClient.h"
#include "QtScreenList.h"
#include "ShellFakes.h"
#include "TapLockEngine.h"
#include "X11CursorVisibility.h"
#include "X11InputAccessPermission.h"
#include "X11InputGrab.h"
#include "X11TaskbarPresence.h"
#include "X11WindowStacking.h"
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

using ow::test::XTestInput;

namespace {

constexpr QRgb kDotRed = 0xFFE01B24;

// Debian's trayer, an XEmbed system tray, in the top right corner of the tests' Xvfb. The
// tests run without a session bus, so Qt's tray icons embed themselves in it over X11.
class TrayEndToEndTest : public ::testing::Test {
protected:
    TrayEndToEndTest()
        : input(qEnvironmentVariable("DISPLAY"))
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(input.isOpen());
        trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                QStringLiteral("--align"), QStringLiteral("right"),
                                                QStringLiteral("--widthtype"), QStringLiteral("request"),
                                                QStringLiteral("--height"), QStringLiteral("32")});
        ASSERT_TRUE(trayer.waitForStarted(5000)) << "trayer is missing: scripts/install-deps.sh installs it";
        ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000))
            << "trayer never took the system tray selection";
    }

    void TearDown() override
    {
        for (QProcess* process : {&app, &trayer}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

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

    bool coversTheScreen(qint64 pid)
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        for (unsigned long window : topLevelWindowsOf(pid)) {
            if (input.rootGeometry(window) == screen)
                return true;
        }
        return false;
    }

    int redPixels(const QRect& area)
    {
        const QImage shot = QGuiApplication::primaryScreen()
                                ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        int count = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                if (qAbs(qRed(pixel) - qRed(kDotRed)) <= 24 && qAbs(qGreen(pixel) - qGreen(kDotRed)) <= 24
                    && qAbs(qBlue(pixel) - qBlue(kDotRed)) <= 24)
                    ++count;
            }
        }
        return count;
    }

    // Launched OrbinWash finds the first launch's question answered: it lives in the tray.
    // A one-second hold keeps the unlocks short.
    ow::test::AppHome home{QJsonObject{{QStringLiteral("OWMenuBarMode"), true},
                                       {QStringLiteral("OWOnboarded"), true},
                                       {QStringLiteral("OWHoldSecondsUser"), 1}}};
    XTestInput input;
    QProcess trayer;
    QProcess app;
};

// OrbinWash as a user starts it after choosing the tray: its icon in the tray, the lock
// from the icon's menu, and both Ctrl keys to end it.
TEST_F(TrayEndToEndTest, TheTrayMenuLocksAndBothCtrlKeysUnlock)
{
    app.setProcessEnvironment(home.environment());
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // ORBINWASH_UNDER_TEST names another OrbinWash to start, such as the installed one.
    app.start(qEnvironmentVariable("ORBINWASH_UNDER_TEST", QStringLiteral(ORBINWASH_BIN)), {});
    ASSERT_TRUE(app.waitForStarted(5000));

    unsigned long icon = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (icon = input.findEmbeddedWindow(app.processId(), trayer.processId())) != 0; }, 10000))
        << "the tray icon never appeared in the tray";
    EXPECT_TRUE(topLevelWindowsOf(app.processId()).isEmpty()) << "in the tray the window waits to be asked for";

    // A left click opens the menu; Down and Return, each held as a finger holds it, choose
    // its first item. Three times over, since a lock that comes back does so after an unlock.
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        const QRect place = input.rootGeometry(icon);
        input.motion(place.center().x(), place.center().y());
        input.button(1, true);
        QTest::qWait(90);
        input.button(1, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !topLevelWindowsOf(app.processId()).isEmpty(); }, 5000))
            << "the click opened no menu";
        for (const char* key : {"Down", "Return"}) {
            input.key(input.keycode(key), true);
            QTest::qWait(120);
            input.key(input.keycode(key), false);
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return coversTheScreen(app.processId()) && input.keyboardGrabbedByOther(); }, 5000))
            << "the lock item did not lock";

        ASSERT_TRUE(ow::test::holdBothCtrlKeysUntilUnlocked(input, 5000));
        const QString trouble = ow::test::troubleAfterUnlock(input, 3000);
        ASSERT_TRUE(trouble.isEmpty()) << qPrintable(trouble);
        // The window was not open before the lock, so nothing comes back but the icon.
        EXPECT_TRUE(topLevelWindowsOf(app.processId()).isEmpty());
        EXPECT_EQ(input.findEmbeddedWindow(app.processId(), trayer.processId()), icon);
    }
}

// The companion service on 127.0.0.1, with the conversation the test sets.
class CheckInServer {
public:
    CheckInServer()
    {
        m_server.route(QStringLiteral("/check"), [this](const QHttpServerRequest& request) {
            ++checkIns;
            return QHttpServerResponse(QJsonObject{
                {QStringLiteral("n"), QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("n"))},
                {QStringLiteral("ts"), QDateTime::currentSecsSinceEpoch()},
                {QStringLiteral("mid"), messageId},
                {QStringLiteral("msg"), message},
                {QStringLiteral("tk"), ticket},
            });
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/check").arg(m_port)); }

    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    QString message;
    int checkIns = 0;

private:
    QHttpServer m_server;
    quint16 m_port = 0;
};

// The shell in this process with the real X11 services, checking in with a local server:
// an unread message shows as a red dot on the icon in the tray.
TEST_F(TrayEndToEndTest, AnUnreadMessagePutsARedDotOnTheTrayIcon)
{
    CheckInServer server;
    ow::QtClock clock;
    ow::MemoryUserDefaults defaults;
    defaults.setValue(QStringLiteral("OWMenuBarMode"), true);
    defaults.setValue(QStringLiteral("OWOnboarded"), true);
    ow::X11CursorVisibility cursor;
    ow::FakeDisplaySleepAssertion sleep;
    ow::QtScreenList screens;
    ow::X11WindowStacking stacking;
    ow::FakeLockWatchdog watchdog;
    ow::X11InputAccessPermission permission([] { return QUrl(); });
    ow::X11TaskbarPresence taskbar;
    ow::FakeLauncherBadge launcher;
    ow::QtHttpClient http;
    ow::FakeLoginItem loginItem;
    ow::FakeSystemLog log;
    ow::AppDelegate delegate({.defaults = defaults,
                              .lock = {clock, defaults, cursor, sleep, screens, stacking, watchdog},
                              .permission = permission,
                              .taskbar = taskbar,
                              .launcher = launcher,
                              .http = http,
                              .loginItem = loginItem,
                              .log = log,
                              .installCrashReporter = {},
                              .checkInUrl = server.url()},
                             std::make_unique<ow::TapLockEngine>(std::make_unique<ow::X11InputGrab>(),
                                                                 std::make_unique<ow::FakePowerKeyInhibitor>(), clock),
                             ow::test::ShellFakes::offlineUpdates(clock, home.filePath(QStringLiteral("updates.ini"))));
    delegate.applicationDidFinishLaunching();

    // Where the icon is now: Qt may embed a new window for it when the tray answers.
    const qint64 self = QCoreApplication::applicationPid();
    const auto iconPlace = [&] { return input.rootGeometry(input.findEmbeddedWindow(self, trayer.processId())); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !iconPlace().isEmpty() && server.checkIns == 1; }, 10000))
        << "the tray icon never appeared in the tray";
    QTest::qWait(200); // the icon's first paint
    EXPECT_EQ(redPixels(iconPlace()), 0);

    server.ticket = QStringLiteral("open");
    server.messageId = 12;
    server.message = QStringLiteral("Did the lock hold?");
    delegate.syncWithServer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return redPixels(iconPlace()) >= 4; }, 5000)) << "no red dot on the icon";
    ASSERT_NE(delegate.statusMenu(), nullptr);
    bool listed = false;
    for (const QAction* item : delegate.statusMenu()->actions())
        listed = listed || (item->isVisible() && item->text() == ow::L("messages.banner_title"));
    EXPECT_TRUE(listed);
}

} // namespace
