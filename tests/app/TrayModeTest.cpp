#include "Alert.h"
#include "AppDelegate.h"
#include "ClientInfo.h"
#include "FakeClock.h"
#include "HomeView.h"
#include "HttpClient.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "ColorMath.h"
#include "ShellFakes.h"
#include "StatusItemController.h"
#include "VisualKit.h"

#include <QApplication>
#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <optional>

using namespace ow;
using ow::test::over;
using ow::test::sameRgb;
using namespace std::chrono_literals;

namespace {

// The companion service, answering only when the test says so, with the conversation
// the test sets.
class ScriptedHttpClient final : public HttpClient {
public:
    explicit ScriptedHttpClient(const FakeClock& clock)
        : m_clock(clock)
    {
    }

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds, QObject* context,
              std::function<void(Response)> done) override
    {
        posted.append(url);
        const QJsonValue nonce = QJsonDocument::fromJson(body).object().value(QStringLiteral("n"));
        m_waiting.push_back({nonce, context, std::move(done)});
    }

    void answerAll()
    {
        while (!m_waiting.empty()) {
            Waiting next = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (!next.context)
                continue;
            QJsonObject reply{
                {QStringLiteral("n"), next.nonce},
                {QStringLiteral("ts"), m_clock.wallNow().toSecsSinceEpoch()},
                {QStringLiteral("mid"), messageId},
                {QStringLiteral("msg"), message},
                {QStringLiteral("tk"), ticket},
            };
            if (hold)
                reply.insert(QStringLiteral("hold"), *hold);
            next.done({.delivered = true, .status = 200, .body = QJsonDocument(reply).toJson()});
        }
    }

    QList<QUrl> posted;
    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    QString message;
    std::optional<qint64> hold;

private:
    struct Waiting {
        QJsonValue nonce;
        QPointer<QObject> context;
        std::function<void(Response)> done;
    };

    const FakeClock& m_clock;
    std::deque<Waiting> m_waiting;
};

QImage argb(const QIcon& icon, int side)
{
    return icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
}

class TrayModeTest : public ::testing::Test, protected test::ShellFakes {
protected:
    void SetUp() override
    {
        Alert::reset();
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void TearDown() override
    {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Alert::reset();
    }

    // Builds the shell as the application does, without launching it yet.
    void create()
    {
        AppDelegate::Services shell = services(http);
        shell.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        shell.trayAvailable = [this] { return trayHost; };
        shell.installCrashReporter = [this] { ++crashReporterInstalls; };
        delegate = std::make_unique<AppDelegate>(shell, lockEngine(), updates());
    }

    // Launches and lets whatever the launch queued run.
    void launch()
    {
        if (!delegate)
            create();
        delegate->applicationDidFinishLaunching();
        settle();
    }

    // A later launch, as after a restart: the same stores, a new shell.
    void relaunch()
    {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        launch();
    }

    void launchOnboarded(bool menuBarMode)
    {
        defaults.setValue(QStringLiteral("OWOnboarded"), true);
        defaults.setValue(QStringLiteral("OWMenuBarMode"), menuBarMode);
        launch();
    }

    void settle()
    {
        clock.runPosted();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }

    MainWindow* window() const { return delegate->mainWindow(); }
    SettingsView* settings() const { return delegate->settingsView(); }
    bool skipsTaskbar() const { return taskbar.skipped.value(window()->winId()); }

    // The tray icon on show, if any; a removed one may linger hidden until deleted.
    QSystemTrayIcon* trayIcon() const
    {
        for (QSystemTrayIcon* tray : delegate->statusItem().findChildren<QSystemTrayIcon*>()) {
            if (tray->isVisible())
                return tray;
        }
        return nullptr;
    }

    QStringList menuTexts() const
    {
        QStringList texts;
        for (const QAction* item : delegate->statusMenu()->actions())
            texts << (item->isSeparator() ? QStringLiteral("---") : item->text());
        return texts;
    }

    QAction* menuItem(const char* key) const
    {
        for (QAction* item : delegate->statusMenu()->actions()) {
            if (item->text() == L(key))
                return item;
        }
        return nullptr;
    }

    ScriptedHttpClient http{clock};
    bool trayHost = true;
    int crashReporterInstalls = 0;
    QList<QUrl> opened;
    std::unique_ptr<AppDelegate> delegate;
};

// ---- The first launch's question ----

TEST_F(TrayModeTest, TheFirstLaunchAsksOnceAndTheNextOneDoesNot)
{
    Alert::setNextAnswer(Alert::FirstButton);
    launch();
    const QList<Alert::Record> asked = Alert::takeRecords();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].title, L("onboarding.welcome_title"));
    EXPECT_EQ(asked[0].text, L("onboarding.welcome_message"));
    EXPECT_EQ(asked[0].buttons, (QStringList{L("onboarding.dock_button"), L("onboarding.menubar_button")}));
    EXPECT_TRUE(defaults.boolean(QStringLiteral("OWOnboarded")));

    Alert::setNextAnswer(Alert::SecondButton); // a wrong question must not block the test
    relaunch();
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
    EXPECT_FALSE(AppDelegate::menuBarMode(defaults));
    EXPECT_TRUE(window()->isVisible());
}

// The real alert, answered as the user does. Only the tray's button chooses the tray.
enum class Answer { TrayButton, Escape, CloseButton };

class FirstLaunchQuestionTest : public TrayModeTest, public ::testing::WithParamInterface<Answer> {};

// While the question waits, the store already knows it was asked, and nothing goes out:
// no check-in, not even on a reopen, no update feed, no crash report.
TEST_P(FirstLaunchQuestionTest, TheAnswerIsAwaitedWithNothingSentAndOnlyTheTrayButtonChoosesTheTray)
{
    create();
    bool onboardedDuringQuestion = false;
    qsizetype postsDuringQuestion = -1;
    int feedRequestsDuringQuestion = -1;
    int crashReportersDuringQuestion = -1;
    QString defaultButton;
    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        answerer.stop();
        onboardedDuringQuestion = defaults.boolean(QStringLiteral("OWOnboarded"));
        clock.advance(UpdateController::kStartDelay + 1s);
        delegate->applicationShouldHandleReopen(true);
        postsDuringQuestion = http.posted.size();
        feedRequestsDuringQuestion = feedRequests.requests;
        crashReportersDuringQuestion = crashReporterInstalls;
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        switch (GetParam()) {
        case Answer::TrayButton:
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == L("onboarding.menubar_button"))
                    button->click();
            }
            break;
        case Answer::Escape:
            QTest::keyClick(box, Qt::Key_Escape);
            break;
        case Answer::CloseButton:
            box->close();
            break;
        }
    });
    answerer.start();
    launch();
    EXPECT_TRUE(onboardedDuringQuestion);
    EXPECT_EQ(postsDuringQuestion, 0);
    EXPECT_EQ(feedRequestsDuringQuestion, 0);
    EXPECT_EQ(crashReportersDuringQuestion, 0);
    EXPECT_EQ(defaultButton, L("onboarding.dock_button"));
    EXPECT_EQ(http.posted.size(), 1);
    EXPECT_EQ(crashReporterInstalls, 1);
    EXPECT_EQ(AppDelegate::menuBarMode(defaults), GetParam() == Answer::TrayButton);
    EXPECT_EQ(settings()->menuBarBox()->isChecked(), GetParam() == Answer::TrayButton);

    // Nobody asked about automatic update checks: they are off, as the box shows, until
    // the user ticks it.
    EXPECT_FALSE(settings()->autoUpdateBox()->isChecked());
    EXPECT_FALSE(delegate->updater().automaticallyChecksForUpdates());
    clock.advance(UpdateController::kStartDelay);
    EXPECT_EQ(feedRequests.requests, 0);
    settings()->autoUpdateBox()->click();
    clock.advance(UpdateController::kStartDelay);
    EXPECT_EQ(feedRequests.requests, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, FirstLaunchQuestionTest,
                         ::testing::Values(Answer::TrayButton, Answer::Escape, Answer::CloseButton));

TEST_F(TrayModeTest, AProcessEndedDuringTheQuestionStartsInTheTaskbarWithoutAskingAgain)
{
    defaults.setValue(QStringLiteral("OWOnboarded"), true);
    Alert::setNextAnswer(Alert::SecondButton);
    launch();
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
    EXPECT_TRUE(window()->isVisible());
    EXPECT_FALSE(delegate->statusItem().isEnabled());
    EXPECT_EQ(trayIcon(), nullptr);
}

TEST_F(TrayModeTest, AnsweringTrayShowsTheIconAndTheWindowOutOfTheTaskbar)
{
    Alert::setNextAnswer(Alert::SecondButton);
    launch();
    EXPECT_TRUE(AppDelegate::menuBarMode(defaults));
    EXPECT_TRUE(delegate->statusItem().isEnabled());
    ASSERT_NE(trayIcon(), nullptr);
    EXPECT_EQ(trayIcon()->contextMenu(), delegate->statusMenu());
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(skipsTaskbar());
    EXPECT_TRUE(settings()->menuBarBox()->isChecked());
}

TEST_F(TrayModeTest, AnsweringTaskbarOrClosingTheQuestionShowsNoIcon)
{
    for (const int answer : {Alert::FirstButton, Alert::Closed}) {
        SCOPED_TRACE(answer);
        defaults.setValue(QStringLiteral("OWOnboarded"), false);
        Alert::setNextAnswer(answer);
        relaunch();
        ASSERT_EQ(Alert::takeRecords().size(), 1);
        EXPECT_FALSE(AppDelegate::menuBarMode(defaults));
        EXPECT_TRUE(defaults.contains(QStringLiteral("OWMenuBarMode")));
        EXPECT_FALSE(delegate->statusItem().isEnabled());
        EXPECT_EQ(trayIcon(), nullptr);
        EXPECT_TRUE(window()->isVisible());
        EXPECT_FALSE(skipsTaskbar());
        EXPECT_FALSE(settings()->menuBarBox()->isChecked());
    }
}

// ---- Switching modes ----

TEST_F(TrayModeTest, TheCheckboxSwitchesModesBackAndForth)
{
    launchOnboarded(false);
    QCheckBox* box = settings()->menuBarBox();
    ASSERT_FALSE(box->isChecked());
    for (int round = 0; round < 2; ++round) {
        window()->hide();
        box->click();
        ASSERT_TRUE(box->isChecked());
        EXPECT_TRUE(AppDelegate::menuBarMode(defaults));
        EXPECT_NE(trayIcon(), nullptr);
        EXPECT_FALSE(window()->isVisible()); // shown a moment later, after the icon
        settle();
        EXPECT_TRUE(window()->isVisible());
        EXPECT_TRUE(skipsTaskbar());

        window()->hide();
        box->click();
        ASSERT_FALSE(box->isChecked());
        EXPECT_FALSE(AppDelegate::menuBarMode(defaults));
        EXPECT_EQ(trayIcon(), nullptr);
        settle();
        EXPECT_TRUE(window()->isVisible());
        EXPECT_FALSE(skipsTaskbar());
    }
}

TEST_F(TrayModeTest, TheTrayCheckboxShowsTheStoredMode)
{
    launchOnboarded(true);
    EXPECT_TRUE(settings()->menuBarBox()->isChecked());
    defaults.setValue(QStringLiteral("OWMenuBarMode"), false);
    relaunch();
    EXPECT_FALSE(settings()->menuBarBox()->isChecked());
}

TEST_F(TrayModeTest, WithoutATrayHostTheWindowStaysInTheTaskbarAndANewLaunchBringsItBack)
{
    trayHost = false;
    launchOnboarded(false);
    settings()->menuBarBox()->click();
    settle();
    EXPECT_TRUE(delegate->statusItem().isEnabled()); // waiting for a host to appear
    EXPECT_TRUE(window()->isVisible());
    EXPECT_FALSE(skipsTaskbar());
    window()->hide();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_TRUE(window()->isVisible());

    // Once a host is there, the icon is the way back and the taskbar is left alone.
    trayHost = true;
    delegate->showMainWindow();
    EXPECT_TRUE(skipsTaskbar());
    window()->hide();
    delegate->applicationShouldHandleReopen(false);
    EXPECT_FALSE(window()->isVisible());
}

TEST_F(TrayModeTest, TheFirstCheckInStartsAfterTheModeIsSettled)
{
    launchOnboarded(true);
    EXPECT_EQ(http.posted.size(), 1);
    EXPECT_EQ(delegate->updater().updateCheckInterval(), 3600);
    // Every hour from then on.
    clock.advance(AppDelegate::kSyncInterval);
    EXPECT_EQ(http.posted.size(), 2);
}

// ---- The tray menu ----

TEST_F(TrayModeTest, TheTrayMenuHasItsItemsInOrder)
{
    launchOnboarded(true);
    ASSERT_NE(delegate->statusMenu(), nullptr);
    ASSERT_NE(trayIcon(), nullptr);
    EXPECT_EQ(trayIcon()->contextMenu(), delegate->statusMenu());
    EXPECT_EQ(menuTexts(), (QStringList{L("lock.button"), L("menu.open_app"), L("messages.banner_title"),
                                        QStringLiteral("---"), L("menu.check_updates"), L("menu.report_problem"),
                                        QStringLiteral("---"), L("menu.quit")}));
    EXPECT_FALSE(menuItem("messages.banner_title")->isVisible());
    EXPECT_EQ(menuItem("menu.quit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

    menuItem("menu.open_app")->trigger();
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(skipsTaskbar());

    menuItem("lock.button")->trigger();
    EXPECT_TRUE(delegate->controller().isLocked());
    grab->report(0x100018);
    clock.runPosted();
    clock.advance(4s);
    ASSERT_FALSE(delegate->controller().isLocked());

    Alert::setNextAnswer(Alert::FirstButton); // the check's outcome, whatever it is
    menuItem("menu.check_updates")->trigger();
    EXPECT_TRUE(delegate->updater().isChecking());

    menuItem("menu.report_problem")->trigger();
    ASSERT_NE(delegate->reportDialog(), nullptr);
    EXPECT_TRUE(delegate->reportDialog()->isVisible());
    delegate->reportDialog()->reject();
}

TEST_F(TrayModeTest, APendingMessageShowsInTheTrayMenuAndAsADotOnTheIcon)
{
    http.ticket = QStringLiteral("open");
    http.messageId = 4;
    http.message = QStringLiteral("Hello");
    launchOnboarded(true);
    ASSERT_NE(trayIcon(), nullptr);
    EXPECT_TRUE(trayIcon()->icon().isMask());
    http.answerAll();
    ASSERT_TRUE(delegate->serviceClient().pendingMessage().has_value());

    QAction* item = menuItem("messages.banner_title");
    EXPECT_TRUE(item->isVisible());
    EXPECT_EQ(argb(item->icon(), 13), quotaBadgeImage(1, 13).convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(trayIcon()->icon().isMask()); // the full-colour icon with the dot
    EXPECT_EQ(argb(trayIcon()->icon(), 23), argb(StatusItemController::icon(true), 23));

    // A menu built now, while the message waits, shows it from the start.
    delegate->toggleMenuBarMode(true);
    settle();
    ASSERT_EQ(trayIcon()->contextMenu(), delegate->statusMenu());
    item = menuItem("messages.banner_title");
    EXPECT_TRUE(item->isVisible());
    EXPECT_FALSE(item->icon().isNull());

    item->trigger(); // read: every place goes quiet
    EXPECT_FALSE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_FALSE(item->isVisible());
    EXPECT_TRUE(item->icon().isNull());
    ASSERT_NE(trayIcon(), nullptr);
    EXPECT_TRUE(trayIcon()->icon().isMask());
}

TEST_F(TrayModeTest, WithoutAMessageTheTrayMenuHasNoMessagesItem)
{
    http.ticket = QStringLiteral("open");
    launchOnboarded(true);
    http.answerAll();
    delegate->menuWillOpen();
    QAction* item = menuItem("messages.banner_title");
    EXPECT_FALSE(item->isVisible());
    EXPECT_TRUE(item->icon().isNull());
    EXPECT_TRUE(trayIcon()->icon().isMask());
}

TEST_F(TrayModeTest, OpeningTheTrayMenuChecksInIfStaleAndRefreshes)
{
    http.ticket = QStringLiteral("open");
    http.messageId = 4;
    http.message = QStringLiteral("Hello");
    launchOnboarded(true);
    http.answerAll();
    ASSERT_TRUE(menuItem("messages.banner_title")->isVisible());
    ASSERT_EQ(http.posted.size(), 1);

    // Read elsewhere, without telling the tray: opening the menu catches up.
    delegate->serviceClient().markMessageShown();
    emit delegate->statusMenu()->aboutToShow();
    EXPECT_EQ(http.posted.size(), 1); // the last check-in is recent
    EXPECT_FALSE(menuItem("messages.banner_title")->isVisible());
    EXPECT_TRUE(trayIcon()->icon().isMask());

    clock.advance(AppDelegate::kSyncOnShowAfter + 1s);
    emit delegate->statusMenu()->aboutToShow();
    EXPECT_EQ(http.posted.size(), 2);
}

// ---- The settings page ----

TEST_F(TrayModeTest, TheHoldPopUpOffersTheUsualTimesWithThreeByDefault)
{
    launchOnboarded(false);
    QComboBox* popUp = settings()->holdPopUp();
    QStringList texts;
    QList<int> values;
    for (int i = 0; i < popUp->count(); ++i) {
        texts << popUp->itemText(i);
        values << popUp->itemData(i).toInt();
    }
    EXPECT_EQ(values, (QList<int>{1, 2, 3, 5, 10}));
    EXPECT_EQ(texts, (QStringList{L("settings.seconds_unit", 1), L("settings.seconds_unit", 2),
                                  L("settings.seconds_unit", 3), L("settings.seconds_unit", 5),
                                  L("settings.seconds_unit", 10)}));
    EXPECT_EQ(popUp->currentData().toInt(), 3);
    EXPECT_FALSE(defaults.contains(QStringLiteral("OWHoldSecondsUser"))); // showing is not choosing
}

TEST_F(TrayModeTest, TheServersSevenIsOfferedAsASixthChoice)
{
    defaults.setValue(QStringLiteral("OWHoldSeconds"), qint64(7));
    launchOnboarded(false);
    QComboBox* popUp = settings()->holdPopUp();
    ASSERT_EQ(popUp->count(), 6);
    EXPECT_EQ(popUp->itemData(5).toInt(), 7);
    EXPECT_EQ(popUp->itemText(5), L("settings.seconds_unit", 7));
    EXPECT_EQ(popUp->currentIndex(), 5);
}

TEST_F(TrayModeTest, TheUsersChoiceWinsOverTheServers)
{
    defaults.setValue(QStringLiteral("OWHoldSeconds"), qint64(7));
    defaults.setValue(QStringLiteral("OWHoldSecondsUser"), qint64(10));
    launchOnboarded(false);
    QComboBox* popUp = settings()->holdPopUp();
    EXPECT_EQ(popUp->count(), 5);
    EXPECT_EQ(popUp->currentData().toInt(), 10);
}

// Chosen as the user does, in the open pop-up's list; the time already shown counts too.
TEST_F(TrayModeTest, ChoosingATimeStoresItAndRewritesTheHintAtOnce)
{
    defaults.setValue(QStringLiteral("OWOnboarded"), true);
    for (const int seconds : {10, 3}) {
        SCOPED_TRACE(seconds);
        defaults.remove(QStringLiteral("OWHoldSecondsUser"));
        relaunch();
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

// A check-in that brings the server's hold time shows it at once wherever it is shown,
// unless the user chose one.
TEST_F(TrayModeTest, TheServersHoldTimeShowsWhenItArrives)
{
    const struct {
        qint64 user;
        qint64 server;
        int shown;
    } rows[] = {{0, 7, 7}, {0, 2, 2}, {10, 7, 10}};
    defaults.setValue(QStringLiteral("OWOnboarded"), true);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.user << " " << row.server);
        defaults.remove(QStringLiteral("OWHoldSeconds"));
        defaults.remove(QStringLiteral("OWHoldSecondsUser"));
        if (row.user)
            defaults.setValue(QStringLiteral("OWHoldSecondsUser"), row.user);
        relaunch();
        http.hold = row.server;
        http.answerAll();
        EXPECT_EQ(window()->homeView()->hintLabel()->text(), L("home.unlock_hint", row.shown));
        QComboBox* popUp = settings()->holdPopUp();
        EXPECT_EQ(popUp->currentData().toInt(), row.shown);
        EXPECT_EQ(popUp->currentText(), L("settings.seconds_unit", row.shown));
        // Showing is not choosing.
        EXPECT_EQ(defaults.integer(QStringLiteral("OWHoldSecondsUser")), row.user);
    }
}

TEST_F(TrayModeTest, OneCheckboxDrivesBothUpdateSwitches)
{
    create();
    delegate->updater().setAutomaticallyChecksForUpdates(true);
    delegate->updater().setAutomaticallyDownloadsUpdates(false);
    launchOnboarded(false);
    QCheckBox* box = settings()->autoUpdateBox();
    EXPECT_FALSE(box->isChecked()); // only half of it is on
    // So no background check runs behind a box that shows off.
    EXPECT_FALSE(delegate->updater().automaticallyChecksForUpdates());

    box->click();
    EXPECT_TRUE(delegate->updater().automaticallyChecksForUpdates());
    EXPECT_TRUE(delegate->updater().automaticallyDownloadsUpdates());
    box->click();
    EXPECT_FALSE(delegate->updater().automaticallyChecksForUpdates());
    EXPECT_FALSE(delegate->updater().automaticallyDownloadsUpdates());

    // Both on: checked from the start.
    delegate->updater().setAutomaticallyChecksForUpdates(true);
    delegate->updater().setAutomaticallyDownloadsUpdates(true);
    relaunch();
    EXPECT_TRUE(settings()->autoUpdateBox()->isChecked());
}

TEST_F(TrayModeTest, StartAtLoginCreatesAndRemovesTheEntry)
{
    launchOnboarded(false);
    QCheckBox* box = settings()->launchAtLoginBox();
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_TRUE(loginItem.enabled);
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_FALSE(loginItem.enabled);
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(TrayModeTest, ARefusedEntryIsLoggedOnceAndTheBoxShowsTheTruth)
{
    loginItem.failure = QStringLiteral("the autostart folder is read-only");
    launchOnboarded(false);
    QCheckBox* box = settings()->launchAtLoginBox();
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(loginItem.enabled);
    EXPECT_EQ(log.lines,
              QStringList{QStringLiteral("OrbinWash: ouverture à la connexion: the autostart folder is read-only")});
}

TEST_F(TrayModeTest, TheStartAtLoginBoxIsReadAgainEachTimeTheSettingsShow)
{
    loginItem.enabled = true;
    launchOnboarded(false);
    EXPECT_TRUE(settings()->launchAtLoginBox()->isChecked());
    loginItem.enabled = false; // removed from the desktop's own settings
    delegate->showSettings();
    EXPECT_FALSE(settings()->launchAtLoginBox()->isChecked());
    delegate->showMain();
    loginItem.enabled = true;
    delegate->showSettings();
    EXPECT_TRUE(settings()->launchAtLoginBox()->isChecked());
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(TrayModeTest, TheSettingsPageIsLaidOutTopDown)
{
    launchOnboarded(false);
    delegate->showSettings();
    SettingsView* page = settings();
    ASSERT_EQ(page->size(), QSize(430, 641));
    EXPECT_EQ(page->backButton()->geometry(), QRect(18, 46, 28, 28));
    EXPECT_EQ(page->backButton()->toolTip(), L("accessibility.back"));
    EXPECT_EQ(page->backButton()->accessibleName(), L("accessibility.back"));
    EXPECT_FALSE(page->backButton()->icon().isNull());

    EXPECT_EQ(page->titleLabel()->text(), L("settings.title"));
    EXPECT_EQ(page->titleLabel()->x(), 54);
    EXPECT_NEAR(page->titleLabel()->geometry().center().y(), 60, 1);
    EXPECT_EQ(page->titleLabel()->font().pixelSize(), 20);
    EXPECT_EQ(page->titleLabel()->font().weight(), QFont::Bold);

    EXPECT_EQ(page->holdLabel()->x(), 40);
    EXPECT_NEAR(page->holdLabel()->geometry().center().y(), 123, 1);
    EXPECT_EQ(page->holdLabel()->font().pixelSize(), 13);
    EXPECT_EQ(page->holdPopUp()->geometry(), QRect(310, 110, 80, 26));

    EXPECT_EQ(page->autoUpdateBox()->pos(), QPoint(40, 174));
    EXPECT_EQ(page->menuBarBox()->pos(), QPoint(40, 206));
    EXPECT_EQ(page->launchAtLoginBox()->pos(), QPoint(40, 238));
    EXPECT_EQ(page->autoUpdateBox()->text(), L("settings.auto_update"));
    EXPECT_EQ(page->menuBarBox()->text(), L("settings.menu_bar_icon"));
    EXPECT_EQ(page->launchAtLoginBox()->text(), L("settings.launch_at_login"));
    EXPECT_GE(page->launchAtLoginBox()->width(), page->launchAtLoginBox()->sizeHint().width());

    EXPECT_EQ(page->checkUpdatesButton()->pos(), QPoint(24, 286));
    EXPECT_EQ(page->reportProblemButton()->pos(), QPoint(24, 324));

    EXPECT_EQ(page->brandMark()->geometry(), QRect(191, 488, 48, 48));
    EXPECT_FALSE(page->brandMark()->pixmap().isNull());
    EXPECT_EQ(page->versionLabel()->text(), L("about.version_label", appVersion()));
    EXPECT_EQ(page->versionLabel()->y(), 546);
    EXPECT_NEAR(page->versionLabel()->geometry().center().x(), 215, 1);
    EXPECT_EQ(page->versionLabel()->font().weight(), QFont::DemiBold);
    EXPECT_EQ(page->developerLabel()->text(), L("about.developed_by"));
    EXPECT_EQ(page->developerLabel()->y(), 565);
    EXPECT_NEAR(page->developerLabel()->geometry().center().x(), 215, 1);
    EXPECT_EQ(page->developerLabel()->font().pixelSize(), 11);
    EXPECT_EQ(page->websiteButton()->text(), QStringLiteral("orbinlabs.app"));
    EXPECT_EQ(page->websiteButton()->y(), 599);
    EXPECT_NEAR(page->websiteButton()->geometry().center().x(), 215, 1);
    EXPECT_EQ(page->websiteButton()->palette().color(QPalette::ButtonText), orbinMauve());
    EXPECT_TRUE(page->websiteButton()->isFlat());
}

TEST_F(TrayModeTest, TheCardsAreFaintPanelsWithAFaintBorder)
{
    launchOnboarded(false);
    delegate->showSettings();
    SettingsView* page = settings();
    QImage painted(page->size(), QImage::Format_ARGB32);
    const QColor background = page->palette().color(QPalette::Window);
    painted.fill(background);
    page->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    const QColor text = page->palette().color(QPalette::WindowText);
    const QColor fill = over(background, text, 0.05);
    EXPECT_TRUE(sameRgb(painted.pixelColor(200, 104), fill, 2)) << painted.pixelColor(200, 104).name().toStdString();
    EXPECT_TRUE(sameRgb(painted.pixelColor(200, 265), fill, 2));
    // The edge is a faint line: darker than the fill, far lighter than the text.
    for (const QPoint edge : {QPoint(200, 100), QPoint(24, 123), QPoint(405, 200), QPoint(200, 269)}) {
        const int lightness = painted.pixelColor(edge).lightness();
        EXPECT_LT(lightness, fill.lightness() - 5) << edge.x() << "," << edge.y();
        EXPECT_GT(lightness, over(background, text, 0.2).lightness()) << edge.x() << "," << edge.y();
    }
    // Rounded: the very corner shows the page behind.
    EXPECT_TRUE(sameRgb(painted.pixelColor(24, 100), background, 2));
    // Between the cards, nothing.
    EXPECT_TRUE(sameRgb(painted.pixelColor(200, 154), background, 2));
}

TEST_F(TrayModeTest, TheSettingsButtonsLeadWhereTheyShould)
{
    launchOnboarded(false);
    delegate->showSettings();
    SettingsView* page = settings();

    QTest::mouseClick(page->websiteButton(), Qt::LeftButton);
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://orbinlabs.app"))});

    Alert::setNextAnswer(Alert::FirstButton); // the check's outcome, whatever it is
    QTest::mouseClick(page->checkUpdatesButton(), Qt::LeftButton);
    EXPECT_TRUE(delegate->updater().isChecking());

    QTest::mouseClick(page->reportProblemButton(), Qt::LeftButton);
    ASSERT_NE(delegate->reportDialog(), nullptr);
    EXPECT_TRUE(delegate->reportDialog()->isVisible());
    delegate->reportDialog()->reject();

    QTest::mouseClick(page->backButton(), Qt::LeftButton);
    EXPECT_FALSE(window()->isShowingSettings());
    delegate->showSettings();
    QTest::keyClick(window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window()->isShowingSettings());
    EXPECT_TRUE(window()->isVisible());
}

} // namespace
