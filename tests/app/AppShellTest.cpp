#include "CountdownLabel.h"
#include "DisplayModeController.h"
#include "FakeClock.h"
#include "Localizer.h"
#include "LockWindow.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "ShellTest.h"
#include "SingleInstance.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPixmapCache>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <csignal>
#include <thread>

#include <sys/stat.h>

using namespace ow;
using namespace ow::test;
using namespace std::chrono_literals;

namespace {

struct LaunchRow {
    const char* name;
    // Answers the first launch's question on the real alert; none: it was asked before.
    std::function<void(QMessageBox*)> answer;
    bool tray; // the mode stored before, when asked before; else the one chosen
};

class LaunchModeTest : public ShellTest, public ::testing::WithParamInterface<LaunchRow> {};

// While the question waits, the store already knows it was asked, and nothing goes out:
// no check-in, not even on a reopen, no update feed even with the updater's own switches
// on, no crash report. Only the tray's button chooses the tray; a later launch asks nothing
// and keeps the mode.
TEST_P(LaunchModeTest, TheModeIsAskedOnceWithNothingSentBeforeTheAnswer)
{
    const LaunchRow& row = GetParam();
    if (!row.answer) {
        defaults().setValue(QStringLiteral("OWOnboarded"), true);
        defaults().setValue(QStringLiteral("OWMenuBarMode"), row.tray);
    }
    // As a settings file moved aside leaves them, when the question comes back.
    UpdateController::Setup setup;
    setup.settingsPath = dir.filePath(QStringLiteral("updates.ini"));
    std::make_unique<UpdateController>(clock(), http(), setup)->setAutomaticallyDownloadsUpdates(true);
    int questions = 0;
    bool onboardedMeanwhile = false, overTheWindow = false;
    qsizetype sentMeanwhile = -1;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answerer.stop();
            ++questions;
            onboardedMeanwhile = defaults().boolean(QStringLiteral("OWOnboarded"));
            // A dialog of the window: kept over it by the desktop, and centred on it.
            overTheWindow = box->windowHandle()->transientParent() == window()->windowHandle()
                && (box->frameGeometry().center() - window()->frameGeometry().center()).manhattanLength() <= 2;
            clock().advance(20s);
            delegate->applicationShouldHandleReopen(true);
            sentMeanwhile = http().requests().size() + crashReporterInstalls;
            row.answer(box);
        }
    });
    answerer.start(10);
    buildShell(false, true, false);
    EXPECT_EQ(questions, row.answer ? 1 : 0);
    EXPECT_EQ(onboardedMeanwhile, questions == 1);
    EXPECT_EQ(overTheWindow, questions == 1);
    EXPECT_EQ(sentMeanwhile, questions ? 0 : -1);
    EXPECT_EQ(service.checkIns().size(), 1);
    EXPECT_EQ(crashReporterInstalls, 1);
    clock().advance(UpdateController::kStartDelay);
    EXPECT_EQ(http().requests().size(), 2); // the check-in, then the update feed

    for (const bool relaunch : {false, true}) {
        SCOPED_TRACE(relaunch ? "relaunch" : "launch");
        EXPECT_EQ(DisplayModeController::menuBarMode(defaults()), row.tray);
        EXPECT_EQ(settings()->menuBarBox()->isChecked(), row.tray);
        EXPECT_EQ(trayIcon() != nullptr, row.tray);
        // In the tray the window waits for the user, except right after the question.
        EXPECT_EQ(window()->isVisible(), !row.tray || (questions && !relaunch));
        EXPECT_EQ(window()->isVisible() && skipsTaskbar(), window()->isVisible() && row.tray);
        Alert::setNextAnswer(Alert::SecondButton); // a wrong question must not block the test
        buildShell(false, true, false);
        EXPECT_TRUE(Alert::takeRecords().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LaunchModeTest,
    ::testing::Values(LaunchRow{"Return", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, false},
                      LaunchRow{"TrayButton",
                                [](QMessageBox* box) {
                                    for (QAbstractButton* button : box->buttons()) {
                                        if (button->text() == L("onboarding.menubar_button"))
                                            button->click();
                                    }
                                },
                                true},
                      LaunchRow{"Escape", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
                      LaunchRow{"CloseButton", [](QMessageBox* box) { box->close(); }, false},
                      LaunchRow{"AskedBeforeTaskbar", {}, false}, LaunchRow{"AskedBeforeTray", {}, true}),
    [](const auto& row) { return std::string(row.param.name); });

// Opened again, from the tray's open item, or at the end of a lock, the window comes
// forward however it was out of sight, except a hidden one in the tray: its icon is the
// way back while a tray host runs, and without one the window stays in the taskbar.
TEST_F(ShellTest, TheWindowComesBackAsTheDisplayModeSays)
{
    enum class Away { No, Hidden, Minimised, Covered };
    enum class Back { Reopen, TrayMenu, Unlock };
    const struct { bool tray; bool host; Away away; Back back; bool comesBack; } rows[] = {
        {false, true, Away::Hidden, Back::Reopen, true},    {false, true, Away::Minimised, Back::Reopen, true},
        {false, true, Away::Covered, Back::Reopen, true},   {true, true, Away::Minimised, Back::Reopen, true},
        {true, true, Away::Covered, Back::Reopen, true},    {true, true, Away::Minimised, Back::TrayMenu, true},
        {true, true, Away::Covered, Back::TrayMenu, true},  {true, true, Away::Hidden, Back::Reopen, false},
        {true, false, Away::Hidden, Back::Reopen, true},    {false, true, Away::No, Back::Unlock, true},
        {false, true, Away::Hidden, Back::Unlock, true},    {true, true, Away::No, Back::Unlock, true},
        {true, true, Away::Hidden, Back::Unlock, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "tray " << row.tray << ", host " << row.host << ", away "
                                        << int(row.away) << ", back " << int(row.back));
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
        if (row.back == Back::Reopen) {
            EXPECT_TRUE(delegate->applicationShouldHandleReopen(window()->isVisible() || other.isVisible()));
        }
        if (row.back == Back::TrayMenu)
            trayMenuItem("menu.open_app")->trigger();
        if (row.back == Back::Unlock) {
            delegate->lockPressed();
            ASSERT_TRUE(locked());
            EXPECT_FALSE(window()->isVisible()); // hidden for the length of the lock
            holdToUnlock();
            ASSERT_FALSE(locked());
        }
        ASSERT_EQ(window()->isVisible(), row.comesBack);
        if (row.comesBack) {
            EXPECT_FALSE(window()->windowState() & Qt::WindowMinimized);
            EXPECT_TRUE(QTest::qWaitForWindowActive(window()));
            EXPECT_EQ(skipsTaskbar(), row.tray && row.host);
        }
    }
}

// In the tray, at launch or moved there from the settings, the window keeps out of the
// taskbar, or where the desktop lists every window (Wayland) out of sight, as long as a
// tray host can bring it back; without one it stays in the taskbar, the one way in.
TEST_F(ShellTest, InTheTrayTheWindowStepsAsideOnlyForAnIconThatCanBringItBack)
{
    const struct { bool atLaunch, canSkip, host, staysOpen; } rows[] = {
        {false, true, true, true}, {false, false, true, false}, {false, false, false, true},
        {true, true, true, false}, {true, true, false, true},   {true, false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "at launch " << row.atLaunch << ", can skip " << row.canSkip << ", host "
                                        << row.host);
        taskbar().canSkip = row.canSkip;
        trayHost = row.host;
        launch(row.atLaunch);
        if (!row.atLaunch) {
            delegate->showSettings();
            settings()->menuBarBox()->click();
            settle();
        }
        EXPECT_EQ(window()->isVisible(), row.staysOpen);
        EXPECT_EQ(window()->isVisible() && skipsTaskbar(), window()->isVisible() && row.host);
        if (row.host) {
            trayMenuItem("menu.open_app")->trigger();
            EXPECT_TRUE(window()->isVisible());
        }
    }
}

// Without permission no lock is tried: an explanation offers to ask for it, the prompt
// first, the settings second. A refused grab means another program holds the keyboard:
// the window comes back as the display mode shows it, and the alert says so. Whoever asked
// hears why before the alert shows.
TEST_F(ShellTest, ALockThatCannotStartKeepsTheWindowAndSaysWhy)
{
    const struct { bool tray; bool trusted; int answer; const char* alert; const char* permissionCalls; } rows[] = {
        {false, false, Alert::FirstButton, "permission.explain_title", "prompt openSettings"},
        {false, false, Alert::SecondButton, "permission.explain_title", ""},
        {true, false, Alert::Closed, "permission.explain_title", ""},
        {false, true, Alert::FirstButton, "lock.keyboard_busy_title", ""},
        {true, true, Alert::FirstButton, "lock.keyboard_busy_title", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "tray " << row.tray << ", trusted " << row.trusted << ", " << row.answer);
        launch(row.tray);
        delegate->showMainWindow();
        permission().trusted = row.trusted;
        permission().calls.clear();
        grab->refuse = true;
        Alert::setNextAnswer(row.answer);
        taskbar().skipped.clear(); // window managers forget it when the window is hidden
        std::optional<LockOutcome> heard;
        qsizetype alertsBefore = -1;
        delegate->lockRequested({}, [&](LockOutcome outcome) {
            heard = outcome;
            alertsBefore = Alert::takeRecords().size();
        });
        EXPECT_EQ(heard, row.trusted ? LockOutcome::InputBusy : LockOutcome::NoInputAccess);
        EXPECT_EQ(alertsBefore, 0);
        EXPECT_FALSE(locked());
        EXPECT_EQ(grab->grabCalls, row.trusted ? 1 : 0);
        EXPECT_TRUE(window()->isVisible());
        EXPECT_EQ(taskbar().skipped.contains(window()->winId()), row.trusted);
        EXPECT_EQ(taskbar().skipped.value(window()->winId(), false), row.trusted && row.tray);
        const QList<Alert::Record> shown = Alert::takeRecords();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].title, L(row.alert));
        EXPECT_EQ(permission().calls.join(QLatin1Char(' ')), QLatin1String(row.permissionCalls));
    }
}

// Asked from outside the window, a lock starts as the button's does, ends by itself after
// the time asked for or the safety timeout, the countdown and the watchdog counting towards
// it, and is refused while it runs. A launch to lock shows no window before the unlock and
// asks nothing; before the first launch's question was ever answered it sends nothing
// either. Then the window comes back as the display mode shows it.
struct MainWindowShows : QObject {
    int count = 0;
    bool eventFilter(QObject* object, QEvent* event) override
    {
        count += event->type() == QEvent::Show && qobject_cast<MainWindow*>(object);
        return false;
    }
};

TEST_F(ShellTest, ALockAskedFromOutsideTheWindowHoldsAndEndsAsAsked)
{
    const struct { bool launch, answered, tray; std::optional<std::chrono::seconds> duration; } rows[] = {
        {false, true, false, 5s}, {true, false, false, 5s}, {true, true, true, {}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "launch " << row.launch << ", answered " << row.answered);
        defaults().remove(QStringLiteral("OWOnboarded"));
        defaults().remove(QStringLiteral("OWMenuBarMode"));
        MainWindowShows windowShows;
        qApp->installEventFilter(&windowShows);
        buildShell(row.tray, !row.launch, row.answered);
        Alert::reset();
        Alert::setNextAnswer(Alert::SecondButton); // a wrong question must not block the test
        const qsizetype sentBefore = http().requests().size() + crashReporterInstalls;
        QPixmapCache::insert(QStringLiteral("cached for the window"), QPixmap(8, 8));
        QList<LockOutcome> heard;
        const LockDone done = [&heard](LockOutcome outcome) { heard.append(outcome); };
        row.launch ? delegate->applicationDidFinishLaunchingToLock({row.duration}, done)
                   : delegate->lockRequested({row.duration}, done);
        settle();
        delegate->lockRequested({}, done);
        EXPECT_EQ(heard, QList<LockOutcome>({LockOutcome::Locked, LockOutcome::AlreadyLocked}));
        ASSERT_TRUE(locked());
        EXPECT_EQ(windowShows.count > 0, !row.launch) << "the window was shown";
        EXPECT_EQ(window()->windowHandle(), nullptr) << "the hidden window kept its native window";
        // Given back a moment into the lock, once the overlays are drawn.
        QPixmap cached;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QPixmapCache::find(QStringLiteral("cached for the window"), &cached); }, 2000));
        EXPECT_EQ(trayIcon() != nullptr, row.tray);
        EXPECT_TRUE(Alert::takeRecords().isEmpty());
        EXPECT_EQ(http().requests().size() + crashReporterInstalls - sentBefore, row.launch && row.answered ? 2 : 0);
        const int seconds = int(row.duration.value_or(15min).count());
        EXPECT_EQ(watchdog().deadline, std::chrono::seconds(seconds));
        EXPECT_EQ(topLevel<LockWindow>()->countdownLabel()->text().toStdString(),
                  L("lock.auto_unlock_countdown", seconds / 60, seconds % 60).toStdString());
        clock().advance(std::chrono::seconds(seconds) - 10ms);
        EXPECT_TRUE(locked());
        clock().advance(10ms);
        settle();
        EXPECT_FALSE(locked());
        EXPECT_EQ(window()->isVisible(), !row.tray);
        EXPECT_EQ(defaults().boolean(QStringLiteral("OWOnboarded")), row.answered);
    }
}

// One engine for every row, as the application keeps one: each lock asks the guard afresh,
// since it may be installed, or the session changed, while the application runs.
TEST_F(ShellTest, TheLockEngineIsTheGuardWhenItLetsThisSessionLockElseTheX11GrabOutsideWayland)
{
    enum class Engine { Guard, X11Grab, None };
    using A = InputGuard::Answer;
    const struct { A guard; bool guardRefuses, x11; const char *sessionType, *waylandDisplay; Engine chosen; } rows[] = {
        {A::Yes, false, true, "x11", nullptr, Engine::Guard}, {A::Yes, false, false, "wayland", "wayland-0", Engine::Guard},
        {A::Yes, false, false, nullptr, nullptr, Engine::Guard}, {A::NotInstalled, false, true, "x11", nullptr, Engine::X11Grab},
        {A::NotInstalled, false, true, nullptr, nullptr, Engine::X11Grab}, {A::No, false, true, "tty", nullptr, Engine::X11Grab},
        {A::NotInstalled, false, true, "wayland", nullptr, Engine::None}, {A::No, false, true, nullptr, "wayland-0", Engine::None},
        {A::NotInstalled, false, true, "x11", "wayland-1", Engine::None}, {A::No, false, false, "x11", nullptr, Engine::None},
        {A::NotInstalled, false, false, nullptr, nullptr, Engine::None}, {A::No, false, true, "x11", nullptr, Engine::X11Grab},
        // A guard that said yes but cannot lock now (another of its locks runs).
        {A::Yes, true, true, "x11", nullptr, Engine::X11Grab}, {A::Yes, true, true, "wayland", nullptr, Engine::None},
        // Installed but silent, or failing to start: never the weaker X11 grab in its stead.
        {A::NoAnswer, false, true, "x11", nullptr, Engine::None}, {A::NoAnswer, false, true, nullptr, nullptr, Engine::None},
    };
    const auto setOrUnset = [](const char* name, const char* value) { value ? qputenv(name, value) : qunsetenv(name); };
    bool x11 = false;
    LockEngineChoice choice(*this, [&x11] { return x11; });
    FakeInputGuard& guard = inputGuard();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        guard.answer = row.guard;
        guard.refuse = row.guardRefuses;
        x11 = row.x11;
        setOrUnset("XDG_SESSION_TYPE", row.sessionType);
        setOrUnset("WAYLAND_DISPLAY", row.waylandDisplay);
        choice.prepare([] {});
        EXPECT_EQ(choice.start([](quint64) {}), row.chosen != Engine::None);
        EXPECT_EQ(guard.locked, row.chosen == Engine::Guard);
        EXPECT_EQ(grab->grabbed, row.chosen == Engine::X11Grab);
        choice.stop();
        EXPECT_FALSE(guard.locked || grab->grabbed);
    }
    qunsetenv("XDG_SESSION_TYPE"); // as the tests run
    qunsetenv("WAYLAND_DISPLAY");
}

// The guard may have to be started first: the window waits with the busy cursor, a second
// command meanwhile starts nothing and hears the first one's outcome, and the answer locks once.
TEST_F(ShellTest, WhileTheGuardStartsTheWindowWaitsAndASecondCommandStartsNothing)
{
    launch();
    inputGuard().answer = InputGuard::Answer::Yes;
    inputGuard().holdAnswer = true;
    QList<LockOutcome> heard;
    for (int press = 0; press < 2; ++press)
        delegate->lockRequested({}, [&heard](LockOutcome outcome) { heard.append(outcome); });
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor);
    inputGuard().answerNow();
    EXPECT_EQ(heard, (QList{LockOutcome::Locked, LockOutcome::Locked}));
    EXPECT_EQ(inputGuard().lockCalls, 1);
    EXPECT_FALSE(window()->isVisible() || QGuiApplication::overrideCursor());
}

// The hold time in force shows at once on the home view and in the settings' pop-up: the
// user's choice, else the server's, even one the pop-up does not offer; showing it is not
// choosing it. Chosen in the open pop-up's list, as the user does, a time is stored and shown
// at once; the time already shown counts too.
TEST_F(ShellTest, TheHoldTimeShowsWhatIsInForceAndWhatTheUserChooses)
{
    const struct { qint64 user; qint64 server; int shown; int chosen; } rows[] = {{0, 7, 7, 3}, {0, 2, 2, 2}, {10, 7, 10, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.user << " " << row.server);
        defaults().remove(QStringLiteral("OWHoldSeconds"));
        defaults().remove(QStringLiteral("OWHoldSecondsUser"));
        if (row.user)
            defaults().setValue(QStringLiteral("OWHoldSecondsUser"), row.user);
        service.hold = row.server;
        launch();
        // Made only when first wanted, the settings show what is in force by then.
        EXPECT_EQ(window()->madeSettingsView(), nullptr);
        QComboBox* popUp = settings()->holdPopUp();
        EXPECT_EQ(home()->hintLabel()->text(), L("home.unlock_hint", row.shown));
        EXPECT_EQ(popUp->currentData().toInt(), row.shown);
        EXPECT_EQ(defaults().integer(QStringLiteral("OWHoldSecondsUser")), row.user);

        delegate->showSettings();
        popUp->showPopup();
        QAbstractItemView* list = popUp->view();
        const int wanted = popUp->findData(row.chosen);
        while (list->currentIndex().row() != wanted)
            QTest::keyClick(list, list->currentIndex().row() < wanted ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
        EXPECT_FALSE(list->isVisible());
        EXPECT_EQ(defaults().integer(QStringLiteral("OWHoldSecondsUser")), row.chosen);
        EXPECT_EQ(home()->hintLabel()->text(), L("home.unlock_hint", row.chosen));
    }
}

// Each box shows at launch what is in force (half of the update setting on shows off and
// turns the checks off too), then flips what it stands for, both ways, with the window on
// show in its new place. The login entry is read again each time the page shows; a refused
// one is logged and the box tells the truth.
TEST_F(ShellTest, EachSettingsSwitchShowsAndDrivesWhatItStandsFor)
{
    const struct {
        QCheckBox* (SettingsView::*box)() const;
        std::function<void(ShellTest&, bool)> setBefore;
        std::function<QList<bool>(ShellTest&)> facts;
    } rows[] = {
        {&SettingsView::autoUpdateBox,
         [](ShellTest& t, bool on) {
             t.updater->setAutomaticallyChecksForUpdates(true);
             t.updater->setAutomaticallyDownloadsUpdates(on);
         },
         [](ShellTest& t) {
             return QList<bool>{t.updater->automaticallyChecksForUpdates(), t.updater->automaticallyDownloadsUpdates()};
         }},
        {&SettingsView::menuBarBox,
         [](ShellTest& t, bool on) { t.defaults().setValue(QStringLiteral("OWMenuBarMode"), on); },
         [](ShellTest& t) {
             t.settle();
             return QList<bool>{DisplayModeController::menuBarMode(t.defaults()), t.trayIcon() != nullptr};
         }},
        {&SettingsView::launchAtLoginBox, [](ShellTest& t, bool on) { t.loginItem().enabled = on; },
         [](ShellTest& t) { return QList<bool>{t.loginItem().enabled}; }},
    };
    for (const auto& row : rows) {
        for (const bool on : {true, false}) {
            SCOPED_TRACE(testing::Message() << "box " << &row - rows << ", on " << on);
            buildShell(false, false);
            row.setBefore(*this, on);
            delegate->applicationDidFinishLaunching();
            settle();
            // In force from the launch on, before the settings are ever shown.
            for (const bool fact : row.facts(*this))
                EXPECT_EQ(fact, on);
            QCheckBox* box = (settings()->*row.box)();
            bool now = on;
            for (int clicks = 0; clicks < 4; ++clicks, now = !now) {
                if (clicks)
                    box->click();
                EXPECT_EQ(box->isChecked(), now);
                for (const bool fact : row.facts(*this))
                    EXPECT_EQ(fact, now);
                EXPECT_TRUE(window()->isVisible() || !clicks);
            }
        }
    }
    for (const bool enabled : {true, false}) {
        loginItem().enabled = enabled; // changed in the desktop's own settings
        delegate->showSettings();
        EXPECT_EQ(settings()->launchAtLoginBox()->isChecked(), enabled);
        delegate->showMain();
    }
    EXPECT_TRUE(log().lines.isEmpty());
    loginItem().failure = QStringLiteral("the autostart folder is read-only");
    settings()->launchAtLoginBox()->click();
    EXPECT_FALSE(settings()->launchAtLoginBox()->isChecked());
    ASSERT_EQ(log().lines.size(), 1);
    EXPECT_TRUE(log().lines[0].endsWith(loginItem().failure));
}

// The settings page's buttons and the tray menu's items do what they say; Ctrl+W first
// leaves the settings, then closes the window without quitting.
TEST_F(ShellTest, TheSettingsPageAndTheTrayMenuLeadWhereTheySay)
{
    launch(true);
    trayMenuItem("lock.button")->trigger();
    EXPECT_TRUE(locked());
    holdToUnlock();
    trayMenuItem("menu.open_app")->trigger();
    delegate->showSettings();
    SettingsView* page = settings();
    QTest::mouseClick(page->websiteButton(), Qt::LeftButton);
    EXPECT_EQ(opened.value(0).host(), page->websiteButton()->text());
    for (const bool fromTray : {false, true}) {
        Alert::setNextAnswer(Alert::FirstButton); // the check's outcome, whatever it is
        fromTray ? trayMenuItem("menu.check_updates")->trigger() : page->checkUpdatesButton()->click();
        EXPECT_TRUE(updater->isChecking());
        fromTray ? trayMenuItem("menu.report_problem")->trigger() : page->reportProblemButton()->click();
        ASSERT_NE(topLevel<ReportProblemDialog>(), nullptr);
        EXPECT_TRUE(topLevel<ReportProblemDialog>()->isVisible());
        topLevel<ReportProblemDialog>()->reject();
        settle();
    }
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    delegate->showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QTest::mouseClick(page->backButton(), Qt::LeftButton);
    EXPECT_FALSE(window()->isShowingSettings());
    delegate->showSettings();
    for (const bool visibleAfter : {true, false}) {
        QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(window()->isShowingSettings());
        EXPECT_EQ(window()->isVisible(), visibleAfter);
    }
    QApplication::processEvents();
    EXPECT_EQ(quitting.count(), 0);
}

// A later launch reopens the first one, or asks it to lock and hears how it went, over a
// blocking connect from another thread; another session's folder is another instance.
// Anything but one well-formed line, and any request from another user, closes the
// connection unanswered and does nothing. A launch that never finishes its line is let go
// in time, and others are served meanwhile.
TEST(SingleInstance, ALaterLaunchReopensOrLocksTheFirstAndNothingElseCounts)
{
    QTemporaryDir folder;
    QTemporaryDir otherFolder;
    FakeClock clock;
    const QString name = QStringLiteral("orbinwash-test");
    const QString path = folder.filePath(name + QStringLiteral(".socket"));
    const struct { QByteArray sent; bool stranger; int reopens; std::optional<qint64> lockFor; } rows[] = {
        {"reopen\n", false, 1, {}},   {"lock\n", false, 0, 0},      {"lock 900\n", false, 0, 900},
        {"lock 901\n", false, 0, {}}, {"lock 0\n", false, 0, {}},   {"lock five\n", false, 0, {}},
        {"lock 5 5\n", false, 0, {}}, {"lock\nlock\n", false, 0, {}}, {"LOCK\n", false, 0, {}},
        {"reopen", false, 0, {}},     {QByteArray(100, 'l'), false, 0, {}}, {"lock " + QByteArray(100, '0') + "5\n", false, 0, {}},
        {"reopen\n", true, 0, {}},    {"lock\n", true, 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sent.left(20).toStdString() + (row.stranger ? " from a stranger" : ""));
        SingleInstance first(name, folder.path(), SingleInstance::currentUser() + row.stranger);
        ASSERT_TRUE(first.claim(clock));
        QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
        std::optional<qint64> lockedFor;
        first.setLockHandler([&](const LockRequest& request, LockDone answer) {
            lockedFor = request.duration.value_or(0s).count();
            answer(LockOutcome::InputBusy);
        });
        QLocalSocket silent;
        silent.connectToServer(path);
        QLocalSocket later;
        later.connectToServer(path);
        later.write(row.sent);
        // Closed by the first one, except the unfinished line, which waits for more.
        EXPECT_EQ(QTest::qWaitFor([&] { return later.state() == QLocalSocket::UnconnectedState; }, 1000),
                  !row.sent.endsWith("reopen"));
        EXPECT_EQ(later.readAll(), QByteArray(row.lockFor ? "input-busy\n" : ""));
        EXPECT_EQ(lockedFor, row.lockFor);
        EXPECT_EQ(reopened.count(), row.reopens);
        EXPECT_TRUE(row.stranger || silent.state() == QLocalSocket::ConnectedState);
        clock.advance(5s); // far longer than a launch takes to send its line
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return silent.state() == QLocalSocket::UnconnectedState && later.state() == QLocalSocket::UnconnectedState;
        }, 1000));
    }

    // One that crashed left its socket; the next one's is for the user alone.
    QFile(path).open(QIODevice::WriteOnly);
    SingleInstance first(name, folder.path());
    SingleInstance elsewhere(name, otherFolder.path());
    SingleInstance second(name, folder.path());
    ASSERT_TRUE(first.claim(clock) && elsewhere.claim(clock));
    EXPECT_FALSE(second.claim(clock));
    struct stat socketFile {};
    EXPECT_TRUE(::stat(QFile::encodeName(path).constData(), &socketFile) == 0 && S_ISSOCK(socketFile.st_mode)
                && (socketFile.st_mode & (S_IRWXG | S_IRWXO)) == 0);
    first.setLockHandler([](const LockRequest& request, LockDone answer) {
        answer(request.duration == 7s ? LockOutcome::Locked : LockOutcome::NoInputAccess);
    });
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    QSignalSpy elsewhereReopened(&elsewhere, &SingleInstance::reopenRequested);
    std::optional<LockOutcome> outcome;
    bool delivered = false;
    std::thread launcher([&] {
        outcome = second.askToLock({7s});
        delivered = second.notifyRunning();
    });
    EXPECT_TRUE(reopened.wait(5000));
    launcher.join();
    EXPECT_EQ(outcome, LockOutcome::Locked);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(elsewhereReopened.count(), 0);
    EXPECT_EQ(SingleInstance(name, QDir::tempPath() + QStringLiteral("/none")).askToLock({}), std::nullopt);
}

// A launch may give up before its answer: one given later to a launch that left
// meanwhile, or at once to a launch already gone, goes nowhere and holds nothing open; the
// next launch, on the descriptor number the first one had, hears its own.
TEST(SingleInstance, AnAnswerForALaunchThatLeftGoesNowhere)
{
    QTemporaryDir folder;
    FakeClock clock;
    SingleInstance first(QStringLiteral("orbinwash-test"), folder.path());
    ASSERT_TRUE(first.claim(clock));
    std::vector<LockDone> answers;
    bool answeredAtOnce = false;
    first.setLockHandler([&](const LockRequest& request, LockDone answer) {
        answeredAtOnce = request.duration.has_value();
        if (answeredAtOnce)
            answer(LockOutcome::Locked);
        else
            answers.push_back(std::move(answer));
    });
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = openFiles();
    const QString path = folder.filePath(QStringLiteral("orbinwash-test.socket"));
    QLocalSocket leaving;
    leaving.connectToServer(path);
    leaving.write("lock\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 1; }, 1000));
    leaving.abort();
    EXPECT_TRUE(QTest::qWaitFor([&] { return openFiles() == before; }, 1000));
    // The app keeps SIGPIPE's default, which kills it; the network module ignores it.
    const auto pipeAction = std::signal(SIGPIPE, SIG_DFL);
    const auto restore = qScopeGuard([&] { std::signal(SIGPIPE, pipeAction); });
    QLocalSocket gone;
    gone.connectToServer(path);
    gone.write("lock 5\n");
    gone.flush();
    gone.abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answeredAtOnce; }, 1000));
    QLocalSocket next;
    next.connectToServer(path);
    next.write("lock\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 1000));
    answers[0](LockOutcome::Locked);
    answers[1](LockOutcome::InputBusy);
    EXPECT_TRUE(QTest::qWaitFor([&] { return next.state() == QLocalSocket::UnconnectedState; }, 1000));
    EXPECT_EQ(next.readAll(), "input-busy\n");
    EXPECT_EQ(openFiles(), before);
}

} // namespace
