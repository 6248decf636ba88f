#include "BadgeImageView.h"
#include "CheckInSchedule.h"
#include "Localizer.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "ShellTest.h"

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

// Every place that shows the conversation follows two facts: one is open, and a message
// in it is unread. Shown in the banner or read elsewhere, the message goes quiet everywhere,
// and the next check-in, even after a restart, says which one was shown.
TEST_F(ConversationTest, TheBadgesFollowTheConversation)
{
    enum class Then { Nothing, ShowWindow, ReadElsewhere };
    const struct { const char* ticket; qint64 id; Then then; } rows[] = {
        {"none", 4, Then::Nothing}, // a message outside a conversation
        {"open", 0, Then::Nothing},
        {"open", 5, Then::ShowWindow},
        {"open", 6, Then::ReadElsewhere},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.ticket << " " << row.id << " " << int(row.then));
        service.setConversation(row.ticket, row.id, row.id ? QStringLiteral("Hello") : QString());
        launch(true); // the window stays hidden, so a message waits
        const bool open = QLatin1String(row.ticket) == QLatin1String("open");
        const auto expectBadges = [&](bool unread) {
            EXPECT_EQ(launcher().label, unread ? QStringLiteral("1") : QString());
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
        if (row.then == Then::ShowWindow)
            delegate->showMainWindow();
        if (row.then == Then::ReadElsewhere)
            delegate->showMessages();
        EXPECT_EQ(banner() != nullptr, row.then == Then::ShowWindow);
        emit trayIcon()->contextMenu()->aboutToShow();
        expectBadges(false);

        buildShell(true, false);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(messagesMenuItem()->isVisible(), open); // before the first check-in's reply
        EXPECT_EQ(home()->messagesButton()->isVisibleTo(home()), open);
        EXPECT_EQ(service.checkIns().last().value("m").toInteger(), row.then == Then::Nothing ? 0 : row.id);
        answer();
    }
}

// A long text scrolls inside the banner, and the buttons under it still take clicks. Return
// or a click on OK dismisses it; only then does Return lock.
TEST_F(ConversationTest, AnOversizedMessageScrollsInsideTheBanner)
{
    const QStringList lines(200, QStringLiteral("A line of the message"));
    const struct { QString body; bool scrolls; bool byReturn; } rows[] = {
        {lines.join(QLatin1Char('\n')), true, true}, {QString(3000, QLatin1Char('W')), false, false}};
    launch();
    qint64 id = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scrolls);
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

// A message is presented once, as literal text: again asked, the first banner stays, and a
// later reply with the same message shows nothing new.
TEST_F(ConversationTest, AMessageIsPresentedOnceAsLiteralText)
{
    const QString markup = QStringLiteral("<b>bold</b><img src=x>");
    service.setConversation("open", 12, markup);
    launch();
    const QPointer<MessageBanner> first = banner();
    ASSERT_NE(first, nullptr);
    delegate->presentMessageBanner();
    checkIn();
    EXPECT_EQ(banner(), first.data());

    delegate->showMessages();
    for (const QLabel* label : {first->bodyLabel(), listed("body").value(0), listed("header").value(0)}) {
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(first->bodyLabel()->text(), markup);
    EXPECT_EQ(listed("body")[0]->text(), markup);
}

// A check-in's message shows at once in a visible window; a hidden window or a lock keeps
// it waiting on the launcher, and the messages window stays shut during a lock. When the
// lock ends it shows, even in a tray window that stays closed.
TEST_F(ConversationTest, AMessageShowsOnlyInAVisibleWindowOutsideALock)
{
    qint64 id = 20;
    for (const auto& [tray, lockFirst] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(testing::Message() << "tray " << tray << ", locked " << lockFirst);
        service.setConversation("none");
        launch(tray);
        if (lockFirst) {
            delegate->lockPressed();
            ASSERT_TRUE(locked());
            window()->setVisible(!tray);
        }
        service.setConversation("open", ++id, QStringLiteral("Hello"));
        checkIn();
        const bool shown = !tray && !lockFirst;
        EXPECT_EQ(banner() != nullptr, shown);
        EXPECT_EQ(launcher().label, shown ? QString() : QStringLiteral("1"));
        if (!lockFirst)
            continue;
        delegate->presentMessageBanner();
        delegate->showMessages();
        EXPECT_EQ(banner(), nullptr);
        EXPECT_EQ(messages(), nullptr);
        holdToUnlock();
        ASSERT_FALSE(locked());
        EXPECT_EQ(window()->isVisible(), !tray);
        EXPECT_NE(banner(), nullptr);
        EXPECT_EQ(launcher().label, QString());
    }
}

// The whole history, newest first, each entry headed by who said it and when; opening it
// reads a pending message. It opens from the menu or the home view's button, even clicked on
// the badge over it, and is kept when closed.
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

    clock().advance(90s);
    service.setConversation("open", 9, QStringLiteral("Yes, with every keyboard."));
    checkIn();
    ASSERT_EQ(launcher().label, QStringLiteral("1"));
    window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
    const QWidget* badge = home()->messagesBadge();
    QTest::mouseClick(window()->windowHandle(), Qt::LeftButton, {}, badge->mapTo(window(), badge->rect().center()));
    EXPECT_EQ(messages(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(launcher().label, QString());
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

// A reply (Return in the messages window) or a report (the dialog's default button) goes
// once and trimmed, a report's address exactly as typed, and a failure warns. A reply is
// listed first as the user's own, failed or not; Cancel, Esc or only white space send
// nothing, say nothing and keep a reply's text. A report is not a message of the conversation.
TEST_F(ConversationTest, RepliesAndReportsGoOnceAndSayWhenTheyFailed)
{
    enum class Via { Reply, ReportSend, ReportCancel, ReportEscape };
    const struct { Via via; QString typed; bool accepted; QString sent; const char* alert; } rows[] = {
        {Via::Reply, QStringLiteral("   "), true, {}, nullptr},
        {Via::Reply, QStringLiteral("  The screen stays black  "), true, QStringLiteral("The screen stays black"), nullptr},
        {Via::Reply, QStringLiteral("Still broken"), false, QStringLiteral("Still broken"), "messages.send_failed_message"},
        {Via::ReportCancel, QStringLiteral("It froze"), true, {}, nullptr},
        {Via::ReportEscape, QStringLiteral("It froze"), true, {}, nullptr},
        {Via::ReportSend, QStringLiteral(" \n\t \n "), true, {}, nullptr},
        {Via::ReportSend, QStringLiteral("\n  It froze\nafter an hour  \n"), true, QStringLiteral("It froze\nafter an hour"),
         "report.sent_message"},
        {Via::ReportSend, QStringLiteral("It froze"), false, QStringLiteral("It froze"), "report.failed_message"},
    };
    const QString email = QStringLiteral(" me@example.org ");
    launch();
    delegate->showMessages();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.via) << " " << row.typed.toStdString());
        service.acceptReports = row.accepted;
        const qsizetype reportedBefore = service.reports().size();
        Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
        if (row.via == Via::Reply) {
            reply(row.typed);
            EXPECT_EQ(messages()->replyField()->text(), row.sent.isEmpty() ? row.typed : QString());
            if (!row.sent.isEmpty()) {
                EXPECT_EQ(listed("body")[0]->text(), row.sent);
                EXPECT_TRUE(listed("header")[0]->text().startsWith(L("messages.you_prefix")));
            }
        } else {
            settle(); // the last dialog goes
            delegate->reportProblemPressed();
            auto* dialog = topLevel<ReportProblemDialog>();
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(dialog->isModal());
            dialog->textEdit()->setPlainText(row.typed);
            dialog->emailField()->setText(email);
            if (row.via == Via::ReportEscape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            if (row.via == Via::ReportSend)
                QTest::keyClick(dialog->emailField(), Qt::Key_Return);
            if (row.via == Via::ReportCancel)
                QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
            EXPECT_FALSE(dialog->isVisible());
            answer();
        }
        const QList<Alert::Record> alerts = Alert::takeRecords();
        ASSERT_EQ(alerts.size(), row.alert ? 1 : 0);
        EXPECT_TRUE(!row.alert || alerts[0].text == L(row.alert));
        const QList<QJsonObject> reported = service.reports().mid(reportedBefore);
        ASSERT_EQ(reported.size(), row.sent.isEmpty() ? 0 : 1);
        if (!row.sent.isEmpty()) {
            EXPECT_EQ(reported[0].value(QStringLiteral("text")).toString(), row.sent);
            EXPECT_EQ(reported[0].value(QStringLiteral("email")).toString(), row.via == Via::Reply ? QString() : email);
        }
    }
    delegate->showMessages();
    EXPECT_EQ(listed("body").size(), 2); // the replies only
}

// Showing the window, opening the application again or opening the tray menu checks in
// only when the last check-in began more than two minutes before; before any, one is due.
// The hourly check-in runs every hour, whatever the last one was.
TEST_F(ConversationTest, ShowingTheApplicationChecksInWhenStale)
{
    buildShell(true, false);
    delegate->syncIfStale(CheckInSchedule::kOnShowAfter);
    EXPECT_EQ(service.checkIns().size(), 1);
    answer();

    const std::function<void(ConversationTest&)> shows[] = {
        [](ConversationTest& t) { t.delegate->showMainWindow(); },
        [](ConversationTest& t) { t.delegate->applicationShouldHandleReopen(true); },
        [](ConversationTest& t) { emit t.trayIcon()->contextMenu()->aboutToShow(); },
    };
    for (const auto& show : shows) {
        launch(true);
        const qsizetype before = service.checkIns().size();
        const std::pair<std::chrono::milliseconds, int> steps[] = {{CheckInSchedule::kOnShowAfter, 0}, {500ms, 1}, {60s, 1}};
        for (const auto& [wait, checkedIn] : steps) {
            clock().advance(wait); // the last step counts from the last check-in, not from launch
            show(*this);
            EXPECT_EQ(service.checkIns().size(), before + checkedIn);
        }
        answer();
    }
    clock().advance(CheckInSchedule::kInterval - CheckInSchedule::kOnShowAfter - 60s - 501ms);
    EXPECT_EQ(service.checkIns().size(), 7);
    clock().advance(1ms);
    EXPECT_EQ(service.checkIns().size(), 8);
    clock().advance(CheckInSchedule::kInterval);
    EXPECT_EQ(service.checkIns().size(), 9);
}

} // namespace
