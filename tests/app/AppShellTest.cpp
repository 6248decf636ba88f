#include "Alert.h"
#include "AppDelegate.h"
#include "BadgeImageView.h"
#include "Endpoints.h"
#include "HoldDuration.h"
#include "HomeView.h"
#include "HttpClient.h"
#include "Localizer.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "ShellFakes.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <thread>

using namespace ow;

namespace {

// Takes every request and never answers, as a network that is down for good would.
class SilentHttpClient final : public HttpClient {
public:
    void post(const QUrl& url, const QByteArray&, std::chrono::milliseconds, QObject*,
              std::function<void(Response)>) override
    {
        posted.append(url);
    }

    QList<QUrl> posted;
};

class AppShellTest : public ::testing::Test, protected test::ShellFakes {
protected:
    void SetUp() override
    {
        Alert::reset();
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void TearDown() override { Alert::reset(); }

    // Starts the shell as the application does, in dock or tray mode, on a desktop with a
    // tray, after the first launch's question was answered.
    void launch(bool menuBarMode = false)
    {
        defaults.setValue(QStringLiteral("OWOnboarded"), true);
        defaults.setValue(QStringLiteral("OWMenuBarMode"), menuBarMode);
        AppDelegate::Services shell = services(http);
        shell.installCrashReporter = [this] { calls << QStringLiteral("crash reporter"); };
        shell.trayAvailable = [] { return true; };
        delegate = std::make_unique<AppDelegate>(shell, lockEngine(), updates());
        delegate->applicationDidFinishLaunching();
        QApplication::processEvents();
    }

    MainWindow* window() const { return delegate->mainWindow(); }

    // Ends a running lock the way the user does: both Ctrl keys held for the hold time.
    void holdToUnlock()
    {
        grab->report(0x100018);
        clock.runPosted();
        clock.advance(std::chrono::seconds(4));
        QApplication::processEvents();
    }

    SilentHttpClient http;
    QStringList calls;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppShellTest, DockModeLaunchShowsTheWindowAfterInstallingTheCrashReporter)
{
    launch();
    EXPECT_EQ(calls, QStringList{QStringLiteral("crash reporter")});
    ASSERT_NE(window(), nullptr);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_FALSE(window()->isShowingSettings());
    EXPECT_EQ(delegate->updater().updateCheckInterval(), 3600);
    EXPECT_TRUE(taskbar.skipped.isEmpty());
    // The first check-in goes to the built-in address.
    EXPECT_EQ(http.posted, QList<QUrl>{checkInEndpoint()});
}

TEST_F(AppShellTest, TrayModeLaunchBuildsTheWindowButKeepsItHidden)
{
    launch(true);
    ASSERT_NE(window(), nullptr);
    EXPECT_FALSE(window()->isVisible());
    // Asked for, it comes without a taskbar entry.
    delegate->showMainWindow();
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(taskbar.skipped.value(window()->winId()));
}

TEST_F(AppShellTest, TheWindowComesBackAfterAnUnlockInDockModeEvenIfItWasHidden)
{
    launch();
    window()->hide();
    delegate->lockPressed();
    ASSERT_TRUE(delegate->controller().isLocked());
    EXPECT_FALSE(delegate->restoreWindowAfterUnlock());
    holdToUnlock();
    EXPECT_FALSE(delegate->controller().isLocked());
    EXPECT_TRUE(window()->isVisible());
}

TEST_F(AppShellTest, InTrayModeOnlyAWindowThatWasOpenComesBack)
{
    launch(true);
    delegate->lockPressed();
    EXPECT_FALSE(delegate->restoreWindowAfterUnlock());
    holdToUnlock();
    EXPECT_FALSE(window()->isVisible());

    delegate->showMainWindow();
    delegate->lockPressed();
    EXPECT_FALSE(window()->isVisible()); // hidden for the length of the lock
    EXPECT_TRUE(delegate->restoreWindowAfterUnlock());
    holdToUnlock();
    EXPECT_TRUE(window()->isVisible());
}

// Opened again, or from the tray's open item: the window comes forward however it was
// out of sight.
TEST_F(AppShellTest, ReopeningBringsTheWindowForward)
{
    enum class Away { Hidden, Minimised, Covered };
    const struct {
        bool tray;
        Away away;
        bool fromTrayMenu;
    } rows[] = {
        {false, Away::Hidden, false},  {false, Away::Minimised, false}, {false, Away::Covered, false},
        {true, Away::Minimised, false}, {true, Away::Covered, false},   {true, Away::Minimised, true},
        {true, Away::Covered, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "tray " << row.tray << ", away " << int(row.away) << ", tray menu "
                                        << row.fromTrayMenu);
        launch(row.tray);
        delegate->showMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
        QWidget other;
        switch (row.away) {
        case Away::Hidden:
            window()->hide();
            break;
        case Away::Minimised:
            window()->showMinimized();
            break;
        case Away::Covered:
            other.show();
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            break;
        }
        if (row.fromTrayMenu) {
            for (QAction* item : delegate->statusMenu()->actions()) {
                if (item->text() == L("menu.open_app"))
                    item->trigger();
            }
        } else {
            EXPECT_TRUE(delegate->applicationShouldHandleReopen(window()->isVisible() || other.isVisible()));
        }
        EXPECT_TRUE(window()->isVisible());
        EXPECT_FALSE(window()->windowState() & Qt::WindowMinimized);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window()));
        EXPECT_EQ(taskbar.skipped.value(window()->winId()), row.tray);
    }
}

TEST_F(AppShellTest, ReopenInTrayModeChangesNothing)
{
    launch(true);
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_FALSE(window()->isVisible());
}

TEST_F(AppShellTest, CtrlWFirstLeavesTheSettingsThenClosesTheWindowWithoutQuitting)
{
    launch();
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    delegate->showSettings();
    ASSERT_TRUE(window()->isShowingSettings());
    QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window()->isShowingSettings());
    EXPECT_TRUE(window()->isVisible());
    QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window()->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(quitting.count(), 0);
}

TEST_F(AppShellTest, MenusUseCtrlShortcuts)
{
    launch();
    QStringList shortcuts;
    for (QAction* menu : delegate->mainMenu()->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            if (!item->shortcut().isEmpty())
                shortcuts << item->text() + QLatin1Char('=') + item->shortcut().toString();
        }
    }
    EXPECT_TRUE(shortcuts.contains(L("menu.quit") + QStringLiteral("=Ctrl+Q")));
    EXPECT_TRUE(shortcuts.contains(L("menu.close") + QStringLiteral("=Ctrl+W")));
    EXPECT_TRUE(shortcuts.contains(L("edit.undo") + QStringLiteral("=Ctrl+Z")));
    EXPECT_TRUE(shortcuts.contains(L("edit.redo") + QStringLiteral("=Ctrl+Shift+Z")));
    EXPECT_EQ(delegate->mainMenu()->actions().size(), 3);
}

TEST_F(AppShellTest, WithoutPermissionTheWindowStaysAndNoLockIsTried)
{
    launch();
    permission.trusted = false;
    Alert::setNextAnswer(Alert::FirstButton);
    delegate->lockPressed();
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(grab->grabCalls, 0);
    const QList<Alert::Record> shown = Alert::takeRecords();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, L("permission.explain_title"));
    EXPECT_EQ(shown[0].buttons, (QStringList{L("permission.allow_button"), L("common.later")}));
    // The prompt is asked for first, the settings opened second.
    EXPECT_EQ(permission.calls, (QStringList{QStringLiteral("prompt"), QStringLiteral("openSettings")}));
}

TEST_F(AppShellTest, LaterOrClosingTheExplanationOpensNothing)
{
    launch();
    permission.trusted = false;
    for (const int answer : {Alert::SecondButton, Alert::Closed}) {
        Alert::setNextAnswer(answer);
        delegate->lockPressed();
    }
    EXPECT_TRUE(permission.calls.isEmpty());
    EXPECT_EQ(Alert::takeRecords().size(), 2);
}

// In an X11 session a refused grab means another program holds the keyboard: the window
// comes back as the display mode shows it, and the alert says so.
TEST_F(AppShellTest, ARefusedLockBringsTheWindowBackAndSaysTheKeyboardIsBusy)
{
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray ? "tray" : "taskbar");
        launch(tray);
        if (tray)
            delegate->showMainWindow(); // in the tray it comes back only if it was open
        grab->refuse = true;
        Alert::setNextAnswer(Alert::FirstButton);
        // Window managers forget the taskbar state when the window is hidden.
        taskbar.skipped.clear();
        delegate->lockPressed();
        EXPECT_FALSE(delegate->controller().isLocked());
        EXPECT_TRUE(window()->isVisible());
        ASSERT_TRUE(taskbar.skipped.contains(window()->winId()));
        EXPECT_EQ(taskbar.skipped.value(window()->winId()), tray);
        const QList<Alert::Record> shown = Alert::takeRecords();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].title, L("lock.keyboard_busy_title"));
        EXPECT_EQ(shown[0].text, L("lock.keyboard_busy_message"));
        EXPECT_EQ(shown[0].buttons, QStringList{L("common.ok")});
        EXPECT_TRUE(permission.calls.isEmpty());
    }
}

TEST_F(AppShellTest, ReturnInTheHomeViewLocks)
{
    launch();
    QTest::keyClick(window()->homeView(), Qt::Key_Return);
    EXPECT_TRUE(delegate->controller().isLocked());
}

TEST(HomeViewGeometry, FollowsTheLayoutOfTheHomeView)
{
    HomeView home(3);
    home.resize(430, 641);
    home.messagesButton()->show();
    home.show();
    QApplication::processEvents();
    const QRect settings = home.settingsButton()->geometry();
    EXPECT_EQ(settings, QRect(430 - 14 - 30, 641 - 14 - 30, 30, 30));
    const QRect messages = home.messagesButton()->geometry();
    EXPECT_EQ(messages.right() + 1, settings.left() - 4);
    EXPECT_EQ(messages.bottom(), settings.bottom());
    EXPECT_EQ(messages.size(), QSize(30, 30));
    const QRect badge = home.messagesBadge()->geometry();
    EXPECT_EQ(badge.size(), QSize(14, 14));
    EXPECT_EQ(badge.left() + 7, messages.right() + 1 - 7);
    EXPECT_EQ(badge.top() + 7, messages.top() + 7);
    // The hint shows the whole hold seconds.
    EXPECT_EQ(home.hintLabel()->text(), L("home.unlock_hint", 3));
    // The stack sits 4 px above the middle: the lock button's column is centred.
    EXPECT_NEAR(home.lockButton()->geometry().center().x(), 215, 1);
}

TEST(HomeViewGeometry, AClickOnTheBadgeReachesTheMessagesButton)
{
    HomeView home(3);
    home.resize(430, 641);
    home.messagesButton()->show();
    home.messagesBadge()->show();
    home.show();
    QApplication::processEvents();
    QSignalSpy clicked(home.messagesButton(), &QToolButton::clicked);
    const QPoint onBadge = home.messagesBadge()->geometry().center();
    QTest::mouseClick(home.windowHandle(), Qt::LeftButton, {}, onBadge);
    EXPECT_EQ(clicked.count(), 1);
}

} // namespace

namespace {

TEST(SingleInstance, ASecondClaimInTheSameFolderHandsOverAndOtherFoldersStayApart)
{
    QTemporaryDir folder;
    QTemporaryDir otherFolder;
    const QString name = QStringLiteral("orbinwash-test");
    SingleInstance first(name, folder.path());
    ASSERT_TRUE(first.claim());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);

    SingleInstance second(name, folder.path());
    EXPECT_FALSE(second.claim());
    // The running one is told from another thread's blocking connect; let the loop serve it.
    bool delivered = false;
    std::thread launcher([&] { delivered = second.notifyRunning(); });
    EXPECT_TRUE(reopened.wait(3000));
    launcher.join();
    EXPECT_TRUE(delivered);

    // Another session's runtime folder is another instance, whatever the name, and does
    // not take the first one's messages.
    SingleInstance elsewhere(name, otherFolder.path());
    EXPECT_TRUE(elsewhere.claim());
    QSignalSpy elsewhereReopened(&elsewhere, &SingleInstance::reopenRequested);
    std::thread again([&] { SingleInstance(name, folder.path()).notifyRunning(); });
    EXPECT_TRUE(reopened.wait(3000));
    again.join();
    EXPECT_EQ(elsewhereReopened.count(), 0);
}

} // namespace
