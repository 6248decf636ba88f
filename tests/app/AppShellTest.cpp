#include "Alert.h"
#include "AppDelegate.h"
#include "BadgeImageView.h"
#include "Endpoints.h"
#include "HomeView.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "ShellFakes.h"
#include "SingleInstance.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <thread>

using namespace ow;
using namespace std::chrono_literals;

namespace {

class AppShellTest : public ::testing::Test, public test::ShellFakes {
protected:
    void SetUp() override { Alert::reset(); }
    void TearDown() override { tearDownShell(); }

    void launch(bool tray = false) { buildShell(http, tray); }

    // Never answers, as a network that is down for good would.
    FakeHttpClient http;
};

// ---- Where the application lives ----

// How the first launch's question is answered, on the real alert; None: it was asked before.
enum class Answer { None, Return, TrayButton, Escape, CloseButton };

struct LaunchRow {
    const char* name;
    Answer answer;
    bool storedTray; // the mode stored before, when asked before
    bool tray;       // the mode the application lives in afterwards
};

void PrintTo(const LaunchRow& row, std::ostream* out) { *out << row.name; }

class LaunchModeTest : public AppShellTest, public ::testing::WithParamInterface<LaunchRow> {};

// While the question waits, the store already knows it was asked, and nothing goes out:
// no check-in, not even on a reopen, no update feed, no crash report. Only the tray's
// button chooses the tray; a later launch asks nothing and keeps the mode.
TEST_P(LaunchModeTest, TheModeIsAskedOnceWithNothingSentBeforeTheAnswer)
{
    const LaunchRow& row = GetParam();
    if (row.answer == Answer::None) {
        defaults.setValue(QStringLiteral("OWOnboarded"), true);
        if (row.storedTray)
            defaults.setValue(QStringLiteral("OWMenuBarMode"), true);
    }
    int questions = 0;
    bool onboardedDuringQuestion = false;
    qsizetype sentDuringQuestion = -1;
    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        answerer.stop();
        ++questions;
        onboardedDuringQuestion = defaults.boolean(QStringLiteral("OWOnboarded"));
        clock.advance(UpdateController::kStartDelay + 1s);
        delegate->applicationShouldHandleReopen(true);
        sentDuringQuestion = http.requests().size() + feedRequests.requests().size() + crashReporterInstalls;
        switch (row.answer) {
        case Answer::Return: // the default button keeps the taskbar
            QTest::keyClick(box, Qt::Key_Return);
            break;
        case Answer::TrayButton:
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == L("onboarding.menubar_button"))
                    button->click();
            }
            break;
        case Answer::Escape:
            QTest::keyClick(box, Qt::Key_Escape);
            break;
        default:
            box->close();
        }
    });
    answerer.start();
    buildShell(http, false, true, false);
    EXPECT_EQ(questions, row.answer == Answer::None ? 0 : 1);
    if (questions) {
        EXPECT_TRUE(onboardedDuringQuestion);
        EXPECT_EQ(sentDuringQuestion, 0);
    }
    ASSERT_EQ(http.requests().size(), 1);
    EXPECT_EQ(http.requests()[0].url, checkInEndpoint());
    EXPECT_EQ(crashReporterInstalls, 1);
    // Nobody asked about automatic update checks: they stay off.
    clock.advance(UpdateController::kStartDelay + 1s);
    EXPECT_TRUE(feedRequests.requests().isEmpty());

    // In the tray the window waits for the user, except right after the question.
    const bool shown = questions || !row.tray;
    for (int launch = 0; launch < 2; ++launch) {
        SCOPED_TRACE(launch ? "relaunch" : "launch");
        EXPECT_EQ(AppDelegate::menuBarMode(defaults), row.tray);
        EXPECT_EQ(settings()->menuBarBox()->isChecked(), row.tray);
        ASSERT_EQ(trayIcon() != nullptr, row.tray);
        if (row.tray) {
            EXPECT_EQ(trayIcon()->contextMenu(), delegate->statusMenu());
        }
        EXPECT_EQ(window()->isVisible(), launch ? !row.tray : shown);
        if (window()->isVisible()) {
            EXPECT_EQ(skipsTaskbar(), row.tray);
        }
        Alert::setNextAnswer(Alert::SecondButton); // a wrong question must not block the test
        buildShell(http, false, true, false);
        EXPECT_TRUE(Alert::takeRecords().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, LaunchModeTest,
                         ::testing::Values(LaunchRow{"Return", Answer::Return, false, false},
                                           LaunchRow{"TrayButton", Answer::TrayButton, false, true},
                                           LaunchRow{"Escape", Answer::Escape, false, false},
                                           LaunchRow{"CloseButton", Answer::CloseButton, false, false},
                                           LaunchRow{"AskedBeforeTaskbar", Answer::None, false, false},
                                           LaunchRow{"AskedBeforeTray", Answer::None, true, true}),
                         [](const auto& row) { return std::string(row.param.name); });

// Opened again, or from the tray's open item: the window comes forward however it was
// out of sight, except a hidden one in the tray, whose icon is the way back while a
// tray host runs; without one, the window stays in the taskbar.
TEST_F(AppShellTest, ReopeningBringsTheWindowForward)
{
    enum class Away { Hidden, Minimised, Covered };
    const struct {
        bool tray;
        bool host;
        Away away;
        bool fromTrayMenu;
        bool comesBack;
    } rows[] = {
        {false, true, Away::Hidden, false, true},   {false, true, Away::Minimised, false, true},
        {false, true, Away::Covered, false, true},  {true, true, Away::Minimised, false, true},
        {true, true, Away::Covered, false, true},   {true, true, Away::Minimised, true, true},
        {true, true, Away::Covered, true, true},    {true, true, Away::Hidden, false, false},
        {true, false, Away::Hidden, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "tray " << row.tray << ", host " << row.host << ", away "
                                        << int(row.away) << ", tray menu " << row.fromTrayMenu);
        trayHost = row.host;
        launch(row.tray);
        delegate->showMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
        QWidget other;
        if (row.away == Away::Hidden)
            window()->hide();
        if (row.away == Away::Minimised)
            window()->showMinimized();
        if (row.away == Away::Covered) {
            other.show();
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        }
        if (row.fromTrayMenu)
            trayMenuItem("menu.open_app")->trigger();
        else
            EXPECT_TRUE(delegate->applicationShouldHandleReopen(window()->isVisible() || other.isVisible()));
        ASSERT_EQ(window()->isVisible(), row.comesBack);
        if (!row.comesBack)
            continue;
        EXPECT_FALSE(window()->windowState() & Qt::WindowMinimized);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window()));
        EXPECT_EQ(skipsTaskbar(), row.tray && row.host);
    }
}

// When a lock ends the window comes back in the taskbar always, in the tray only if it
// was open.
TEST_F(AppShellTest, AfterAnUnlockTheWindowComesBackAsTheModeSays)
{
    for (const bool tray : {false, true}) {
        for (const bool open : {false, true}) {
            SCOPED_TRACE(testing::Message() << "tray " << tray << ", open " << open);
            launch(tray);
            if (open)
                delegate->showMainWindow();
            else
                window()->hide();
            delegate->lockPressed();
            ASSERT_TRUE(delegate->controller().isLocked());
            EXPECT_FALSE(window()->isVisible()); // hidden for the length of the lock
            EXPECT_EQ(delegate->restoreWindowAfterUnlock(), open);
            holdToUnlock();
            ASSERT_FALSE(delegate->controller().isLocked());
            EXPECT_EQ(window()->isVisible(), open || !tray);
        }
    }
}

// Without permission no lock is tried: an explanation offers to ask for it, the prompt
// first, the settings second. A refused grab means another program holds the keyboard:
// the window comes back as the display mode shows it, and the alert says so.
TEST_F(AppShellTest, ALockThatCannotStartKeepsTheWindowAndSaysWhy)
{
    const struct {
        const char* name;
        bool tray;
        bool trusted;
        int answer;
        const char* alert;
        const char* permissionCalls;
    } rows[] = {
        {"allow", false, false, Alert::FirstButton, "permission.explain_title", "prompt openSettings"},
        {"later", false, false, Alert::SecondButton, "permission.explain_title", ""},
        {"closed", true, false, Alert::Closed, "permission.explain_title", ""},
        {"busy in the taskbar", false, true, Alert::FirstButton, "lock.keyboard_busy_title", ""},
        {"busy in the tray", true, true, Alert::FirstButton, "lock.keyboard_busy_title", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        launch(row.tray);
        delegate->showMainWindow();
        permission.trusted = row.trusted;
        permission.calls.clear();
        grab->refuse = true;
        Alert::setNextAnswer(row.answer);
        // Window managers forget the taskbar state when the window is hidden.
        taskbar.skipped.clear();
        delegate->lockPressed();
        EXPECT_FALSE(delegate->controller().isLocked());
        EXPECT_EQ(grab->grabCalls, row.trusted ? 1 : 0);
        EXPECT_TRUE(window()->isVisible());
        if (row.trusted) {
            ASSERT_TRUE(taskbar.skipped.contains(window()->winId()));
            EXPECT_EQ(skipsTaskbar(), row.tray);
        }
        const QList<Alert::Record> shown = Alert::takeRecords();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].title, L(row.alert));
        EXPECT_EQ(permission.calls.join(QLatin1Char(' ')), QLatin1String(row.permissionCalls));
    }
}

// ---- The settings page and the menus ----

// Chosen as the user does, in the open pop-up's list; the time already shown counts too.
TEST_F(AppShellTest, ChoosingAHoldTimeStoresItAndRewritesTheHintAtOnce)
{
    for (const int seconds : {10, 3}) {
        SCOPED_TRACE(seconds);
        defaults.remove(QStringLiteral("OWHoldSecondsUser"));
        launch();
        delegate->showSettings();
        QComboBox* popUp = settings()->holdPopUp();
        popUp->showPopup();
        QAbstractItemView* list = popUp->view();
        const int wanted = popUp->findData(seconds);
        while (list->currentIndex().row() != wanted)
            QTest::keyClick(list, list->currentIndex().row() < wanted ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
        EXPECT_FALSE(list->isVisible());
        EXPECT_EQ(defaults.integer(QStringLiteral("OWHoldSecondsUser")), seconds);
        EXPECT_EQ(window()->homeView()->hintLabel()->text(), L("home.unlock_hint", seconds));
    }
}

// Each switch flips what it stands for, both ways; the tray switch also brings the
// window back in its new place.
TEST_F(AppShellTest, EachSettingsSwitchDrivesWhatItShows)
{
    const struct {
        const char* name;
        QCheckBox* (SettingsView::*box)() const;
        std::function<QList<bool>(AppShellTest&)> facts;
    } rows[] = {
        {"updates", &SettingsView::autoUpdateBox,
         [](AppShellTest& t) {
             return QList<bool>{t.delegate->updater().automaticallyChecksForUpdates(),
                                t.delegate->updater().automaticallyDownloadsUpdates()};
         }},
        {"tray", &SettingsView::menuBarBox,
         [](AppShellTest& t) {
             t.settle();
             return QList<bool>{AppDelegate::menuBarMode(t.defaults), t.trayIcon() != nullptr, t.skipsTaskbar()};
         }},
        {"login", &SettingsView::launchAtLoginBox, [](AppShellTest& t) { return QList<bool>{t.loginItem.enabled}; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        launch();
        QCheckBox* box = (settings()->*row.box)();
        for (const bool on : {true, false, true, false}) {
            box->click();
            EXPECT_EQ(box->isChecked(), on);
            for (const bool fact : row.facts(*this))
                EXPECT_EQ(fact, on);
            EXPECT_TRUE(window()->isVisible());
        }
    }
    EXPECT_TRUE(log.lines.isEmpty());
}

// The boxes show what is in force: half of the update setting off shows off and turns
// the checks off too; the login entry is read again each time the page shows; a refused
// entry is logged and the box tells the truth.
TEST_F(AppShellTest, TheSettingsShowWhatIsInForce)
{
    buildShell(http, false, false);
    delegate->updater().setAutomaticallyChecksForUpdates(true);
    delegate->updater().setAutomaticallyDownloadsUpdates(false);
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(settings()->autoUpdateBox()->isChecked());
    EXPECT_FALSE(delegate->updater().automaticallyChecksForUpdates());
    delegate->updater().setAutomaticallyChecksForUpdates(true);
    delegate->updater().setAutomaticallyDownloadsUpdates(true);
    loginItem.enabled = true;
    launch();
    EXPECT_TRUE(settings()->autoUpdateBox()->isChecked());
    for (const bool enabled : {true, false, true}) {
        loginItem.enabled = enabled; // changed in the desktop's own settings
        delegate->showSettings();
        EXPECT_EQ(settings()->launchAtLoginBox()->isChecked(), enabled);
        delegate->showMain();
    }
    EXPECT_TRUE(log.lines.isEmpty());

    loginItem.enabled = false;
    loginItem.failure = QStringLiteral("the autostart folder is read-only");
    settings()->launchAtLoginBox()->click();
    EXPECT_FALSE(settings()->launchAtLoginBox()->isChecked());
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].endsWith(loginItem.failure));
}

// The settings page's buttons and the tray menu's items do what they say; Ctrl+W first
// leaves the settings, then closes the window without quitting.
TEST_F(AppShellTest, TheSettingsPageAndTheTrayMenuLeadWhereTheySay)
{
    launch(true);
    EXPECT_FALSE(trayMenuItem("messages.banner_title")->isVisible()); // no message waits
    trayMenuItem("lock.button")->trigger();
    EXPECT_TRUE(delegate->controller().isLocked());
    holdToUnlock();
    ASSERT_FALSE(delegate->controller().isLocked());
    trayMenuItem("menu.open_app")->trigger();
    delegate->showSettings();
    SettingsView* page = settings();
    QTest::mouseClick(page->websiteButton(), Qt::LeftButton);
    EXPECT_EQ(opened, QList<QUrl>{SettingsView::websiteUrl()});
    for (const bool fromTray : {false, true}) {
        Alert::setNextAnswer(Alert::FirstButton); // the check's outcome, whatever it is
        fromTray ? trayMenuItem("menu.check_updates")->trigger() : page->checkUpdatesButton()->click();
        EXPECT_TRUE(delegate->updater().isChecking());
        fromTray ? trayMenuItem("menu.report_problem")->trigger() : page->reportProblemButton()->click();
        ASSERT_NE(delegate->reportDialog(), nullptr);
        EXPECT_TRUE(delegate->reportDialog()->isVisible());
        delegate->reportDialog()->reject();
        settle();
    }
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    delegate->showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QTest::mouseClick(page->backButton(), Qt::LeftButton);
    EXPECT_FALSE(window()->isShowingSettings());
    delegate->showSettings();
    QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window()->isShowingSettings());
    EXPECT_TRUE(window()->isVisible());
    QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window()->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(quitting.count(), 0);
}

TEST(HomeView, AClickOnTheBadgeReachesTheMessagesButton)
{
    HomeView home(3);
    home.setMessagesState(true, true);
    home.show();
    QSignalSpy clicked(home.messagesButton(), &QToolButton::clicked);
    QTest::mouseClick(home.windowHandle(), Qt::LeftButton, {}, home.messagesBadge()->geometry().center());
    EXPECT_EQ(clicked.count(), 1);
}

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
