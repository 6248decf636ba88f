#include "BadgeImageView.h"
#include "CheckInSchedule.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "ShellTest.h"

#include <QComboBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QToolButton>

using namespace ow;
using namespace ow::test;
using namespace std::chrono_literals;

namespace {

// ---- Badges and banner ----

// Every place that shows the conversation follows two facts: one is open, and a message
// in it is unread. Shown in the banner or read elsewhere, the message goes quiet everywhere,
// and the next check-in, even after a restart, says which one was shown.
TEST_F(ConversationTest, TheBadgesFollowTheConversation)
{
    enum class Then { Nothing, ShowWindow, ReadElsewhere };
    const struct {
        const char* name;
        const char* ticket;
        qint64 id;
        Then then;
    } rows[] = {
        {"message outside a conversation", "none", 4, Then::Nothing},
        {"conversation without message", "open", 0, Then::Nothing},
        {"unread, then shown", "open", 5, Then::ShowWindow},
        {"unread, read elsewhere", "open", 6, Then::ReadElsewhere},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        service.setConversation(row.ticket, row.id, row.id ? QStringLiteral("Hello") : QString());
        launch(true); // the window stays hidden, so a message waits
        const bool open = QLatin1String(row.ticket) == QLatin1String("open");
        const auto expectBadges = [&](bool unread) {
            EXPECT_EQ(launcher.label, unread ? QStringLiteral("1") : QString());
            EXPECT_EQ(home()->messagesBadge()->isVisibleTo(home()), unread);
            EXPECT_EQ(home()->messagesButton()->isVisibleTo(home()), open);
            EXPECT_EQ(messagesMenuItem()->isVisible(), open);
            EXPECT_EQ(trayMenuItem("messages.banner_title")->isVisible(), unread);
            EXPECT_EQ(trayIcon()->icon().isMask(), !unread); // the full-colour icon has the dot
        };
        expectBadges(open && row.id);
        delegate->toggleMenuBarMode(true); // a new tray menu too
        settle();
        expectBadges(open && row.id);
        if (row.then == Then::ShowWindow) {
            delegate->showMainWindow();
            EXPECT_NE(banner(), nullptr);
        }
        if (row.then == Then::ReadElsewhere) {
            delegate->showMessages();
            messages()->close();
        }
        emit trayIcon()->contextMenu()->aboutToShow();
        expectBadges(false);

        buildShell(service, true, false);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(messagesMenuItem()->isVisible(), open); // before the first check-in's reply
        EXPECT_EQ(home()->messagesButton()->isVisibleTo(home()), open);
        EXPECT_EQ(service.checkIns.last().value("m").toInteger(), row.then == Then::Nothing ? 0 : row.id);
        answer();
    }
}

// A long text scrolls inside the banner, and the buttons under it still take clicks. Return or a click on OK dismisses it; only then does Return lock.
TEST_F(ConversationTest, AnOversizedMessageScrollsInsideTheBanner)
{
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QStringLiteral("Line %1 of the message").arg(i);
    const struct {
        QString body;
        bool scrolls;
        bool byReturn;
    } rows[] = {{lines.join(QLatin1Char('\n')), true, true}, {QString(3000, QLatin1Char('W')), false, false}};
    launch();
    qint64 id = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body.left(20).toStdString());
        service.setConversation("open", id++, row.body);
        checkIn();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
        MessageBanner* shown = banner();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->bodyArea()->verticalScrollBar()->maximum() > 0, row.scrolls);
        QToolButton* gear = home()->settingsButton();
        QTest::mouseClick(window()->windowHandle(), Qt::LeftButton, {}, gear->mapTo(window(), gear->rect().center()));
        EXPECT_TRUE(window()->isShowingSettings());
        delegate->showMain();
        if (row.byReturn)
            QTest::keyClick(home(), Qt::Key_Return);
        else
            QTest::mouseClick(shown->okButton(), Qt::LeftButton);
        EXPECT_EQ(banner(), nullptr);
    }
    EXPECT_FALSE(locked());
    QTest::keyClick(home(), Qt::Key_Return);
    EXPECT_TRUE(locked());
}

TEST_F(ConversationTest, MarkupFromTheServerIsShownAsLiteralText)
{
    const QString payload = QStringLiteral("<b>bold</b><img src=x>");
    service.setConversation("open", 3, payload);
    launch();
    ASSERT_NE(banner(), nullptr);
    delegate->showMessages();
    for (const QLabel* label : {banner()->bodyLabel(), listed("body").value(0), listed("header").value(0)}) {
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(banner()->bodyLabel()->text(), payload);
    EXPECT_EQ(listed("body")[0]->text(), payload);
}

// A message is presented once: again asked, the first banner stays, a later reply with
// the same message shows nothing new, and the next check-in says which one was shown.
TEST_F(ConversationTest, AMessageIsPresentedOnce)
{
    service.setConversation("open", 12, QStringLiteral("Hello"));
    launch();
    const QPointer<MessageBanner> first = banner();
    ASSERT_NE(first, nullptr);
    delegate->presentMessageBanner();
    QApplication::processEvents();
    EXPECT_EQ(banner(), first.data());
    checkIn();
    EXPECT_EQ(banner(), first.data());
    ASSERT_EQ(service.checkIns.size(), 2);
    EXPECT_FALSE(service.checkIns[0].contains(QStringLiteral("m")));
    EXPECT_EQ(service.checkIns[1].value(QStringLiteral("m")).toInteger(), 12);
}

// A check-in's message shows at once in a visible window; a hidden window or a lock keeps
// it waiting on the launcher, and the messages window stays shut during a lock. When the
// lock ends it shows, even in a tray window that stays closed.
TEST_F(ConversationTest, AMessageShowsOnlyInAVisibleWindowOutsideALock)
{
    const struct {
        const char* name;
        bool tray;
        bool locked;
    } rows[] = {{"visible", false, false}, {"hidden", true, false}, {"locked", false, true}, {"locked in the tray", true, true}};
    qint64 id = 20;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        service.setConversation("none");
        launch(row.tray);
        if (row.locked) {
            delegate->lockPressed();
            ASSERT_TRUE(locked());
            if (!row.tray)
                window()->show();
        }
        service.setConversation("open", ++id, QStringLiteral("Hello"));
        checkIn();
        const bool shown = !row.tray && !row.locked;
        EXPECT_EQ(banner() != nullptr, shown);
        EXPECT_EQ(launcher.label, shown ? QString() : QStringLiteral("1"));
        if (!row.locked)
            continue;
        delegate->presentMessageBanner();
        delegate->showMessages();
        EXPECT_EQ(banner(), nullptr);
        EXPECT_EQ(messages(), nullptr);
        holdToUnlock();
        ASSERT_FALSE(locked());
        EXPECT_EQ(window()->isVisible(), !row.tray);
        EXPECT_NE(banner(), nullptr);
        EXPECT_EQ(launcher.label, QString());
    }
}

// ---- The messages window ----

// The whole history, newest first, each entry headed by who said it and when; opening it
// reads a pending message. It opens from the menu or the home view's button, and is kept
// when closed.
TEST_F(ConversationTest, TheMessagesWindowListsTheHistoryNewestFirst)
{
    launch(true);
    messagesMenuItem()->trigger();
    MessagesWindow* first = messages();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(listed("body").isEmpty());
    EXPECT_EQ(listed("empty").size(), 1);
    reply(QStringLiteral("Does it work with two keyboards?"));
    first->close();

    clock.advance(90s);
    service.setConversation("open", 9, QStringLiteral("Yes, with every keyboard."));
    checkIn();
    ASSERT_EQ(launcher.label, QStringLiteral("1"));
    window()->show();
    QTest::mouseClick(home()->messagesButton(), Qt::LeftButton);
    EXPECT_EQ(messages(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(launcher.label, QString());
    const QList<QLabel*> headers = listed("header");
    const QList<QLabel*> bodies = listed("body");
    ASSERT_EQ(bodies.size(), 2);
    EXPECT_EQ(bodies[0]->text(), QStringLiteral("Yes, with every keyboard."));
    EXPECT_EQ(bodies[1]->text(), QStringLiteral("Does it work with two keyboards?"));
    EXPECT_TRUE(headers[0]->text().startsWith(L("messages.orbin_labs_prefix")));
    EXPECT_TRUE(headers[1]->text().startsWith(L("messages.you_prefix")));
    EXPECT_EQ(first->list()->verticalScrollBar()->maximum(), 0);

    for (int i = 0; i < 12; ++i)
        reply(QStringLiteral("Reply number %1").arg(i));
    EXPECT_EQ(listed("body")[0]->text(), QStringLiteral("Reply number 11"));
    EXPECT_GT(first->list()->verticalScrollBar()->maximum(), 0);
}

// Return sends the trimmed reply once and lists it first as the user's own; a failed one
// stays listed and warns; one of only spaces is neither sent nor cleared.
TEST_F(ConversationTest, ReturnSendsTheReplyOnce)
{
    const struct {
        QString typed;
        bool accepted;
        QString sent;
    } rows[] = {{QStringLiteral("   "), true, {}},
                {QStringLiteral("  The screen stays black  "), true, QStringLiteral("The screen stays black")},
                {QStringLiteral("Still broken"), false, QStringLiteral("Still broken")}};
    launch();
    delegate->showMessages();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        service.acceptReports = row.accepted;
        service.reports.clear();
        Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
        reply(row.typed);
        const QList<Alert::Record> alerts = Alert::takeRecords();
        ASSERT_EQ(service.reports.size(), row.sent.isEmpty() ? 0 : 1);
        ASSERT_EQ(alerts.size(), row.accepted ? 0 : 1);
        if (row.sent.isEmpty()) {
            EXPECT_EQ(messages()->replyField()->text(), row.typed);
            EXPECT_EQ(listed("empty").size(), 1);
            continue;
        }
        EXPECT_TRUE(messages()->replyField()->text().isEmpty());
        EXPECT_EQ(service.reports[0].value(QStringLiteral("text")).toString(), row.sent);
        EXPECT_FALSE(service.reports[0].contains(QStringLiteral("email")));
        EXPECT_EQ(listed("body")[0]->text(), row.sent);
        EXPECT_TRUE(listed("header")[0]->text().startsWith(L("messages.you_prefix")));
        if (!row.accepted) {
            EXPECT_EQ(alerts[0].text, L("messages.send_failed_message"));
        }
    }
}

// ---- Report a problem ----

// The typed problem goes trimmed, the address exactly as typed, and an alert says how it
// went; Cancel, Esc or only white space send nothing and say nothing. A report is not a
// message of the conversation.
TEST_F(ConversationTest, TheReportDialogSendsAndSaysHowItWent)
{
    enum class Press { Send, Cancel, Escape };
    const struct {
        const char* name;
        QString text;
        Press press;
        bool accepted;
        QString sent;
        const char* alert;
    } rows[] = {
        {"cancel", QStringLiteral("It froze"), Press::Cancel, true, {}, nullptr},
        {"escape", QStringLiteral("It froze"), Press::Escape, true, {}, nullptr},
        {"white space", QStringLiteral(" \n\t \n "), Press::Send, true, {}, nullptr},
        {"sent", QStringLiteral("\n  It froze\nafter an hour  \n"), Press::Send, true,
         QStringLiteral("It froze\nafter an hour"), "report.sent_message"},
        {"refused", QStringLiteral("It froze"), Press::Send, false, QStringLiteral("It froze"), "report.failed_message"},
    };
    launch();
    const QString email = QStringLiteral(" me@example.org ");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        service.acceptReports = row.accepted;
        service.reports.clear();
        Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
        settle(); // the last dialog goes
        delegate->reportProblemPressed();
        auto* dialog = topLevel<ReportProblemDialog>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isModal());
        dialog->textEdit()->setPlainText(row.text);
        dialog->emailField()->setText(email);
        if (row.press == Press::Escape)
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (row.press == Press::Send)
            QTest::keyClick(dialog->emailField(), Qt::Key_Return); // Send is the default
        else
            QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog->isVisible());
        answer();
        const QList<Alert::Record> alerts = Alert::takeRecords();
        ASSERT_EQ(alerts.size(), row.alert ? 1 : 0);
        ASSERT_EQ(service.reports.size(), row.sent.isEmpty() ? 0 : 1);
        if (!row.alert)
            continue;
        EXPECT_EQ(alerts[0].text, L(row.alert));
        EXPECT_EQ(service.reports[0].value(QStringLiteral("text")).toString(), row.sent);
        EXPECT_EQ(service.reports[0].value(QStringLiteral("email")).toString(), email);
    }
    delegate->showMessages();
    EXPECT_EQ(listed("empty").size(), 1);
}

// ---- The check-in schedule ----

// Showing the window, opening the application again or opening the tray menu checks in
// only when the last check-in began more than two minutes before; before any, one is due.
// The hourly check-in runs whatever the last one was.
TEST_F(ConversationTest, ShowingTheApplicationChecksInWhenStale)
{
    buildShell(service, true, false);
    delegate->syncIfStale(CheckInSchedule::kOnShowAfter);
    EXPECT_EQ(service.checkIns.size(), 1);
    answer();

    const std::function<void(ConversationTest&)> shows[] = {
        [](ConversationTest& t) { t.delegate->showMainWindow(); },
        [](ConversationTest& t) { t.delegate->applicationShouldHandleReopen(true); },
        [](ConversationTest& t) { emit t.trayIcon()->contextMenu()->aboutToShow(); },
    };
    for (const auto& show : shows) {
        launch(true);
        const qsizetype before = service.checkIns.size();
        const std::pair<std::chrono::milliseconds, int> steps[] = {{CheckInSchedule::kOnShowAfter, 0}, {500ms, 1}, {60s, 1}};
        for (const auto& [wait, checkedIn] : steps) {
            clock.advance(wait); // the last step counts from the last check-in, not from launch
            show(*this);
            EXPECT_EQ(service.checkIns.size(), before + checkedIn);
        }
        answer();
    }
    clock.advance(CheckInSchedule::kInterval - CheckInSchedule::kOnShowAfter - 60s - 501ms);
    EXPECT_EQ(service.checkIns.size(), 7);
    clock.advance(1ms);
    EXPECT_EQ(service.checkIns.size(), 8);
}

// The server's hold time shows at once on the home view and in the settings' pop-up, even
// one the pop-up does not offer, unless the user chose one; showing it is not choosing.
TEST_F(ConversationTest, TheServersHoldTimeShowsWhenItArrives)
{
    const struct {
        qint64 user;
        qint64 server;
        int shown;
    } rows[] = {{0, 7, 7}, {0, 2, 2}, {10, 7, 10}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.user << " " << row.server);
        defaults.remove(QStringLiteral("OWHoldSeconds"));
        defaults.remove(QStringLiteral("OWHoldSecondsUser"));
        if (row.user)
            defaults.setValue(QStringLiteral("OWHoldSecondsUser"), row.user);
        service.hold = row.server;
        launch();
        EXPECT_EQ(home()->hintLabel()->text(), L("home.unlock_hint", row.shown));
        EXPECT_EQ(settings()->holdPopUp()->currentData().toInt(), row.shown);
        EXPECT_EQ(defaults.integer(QStringLiteral("OWHoldSecondsUser")), row.user);
    }
}

} // namespace
