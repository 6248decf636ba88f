#include "Alert.h"
#include "AppDelegate.h"
#include "BadgeImageView.h"
#include "HomeView.h"
#include "Localizer.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "MessageBanner.h"
#include "MessagesWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "ShellFakes.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <optional>

using namespace ow;
using namespace std::chrono_literals;

namespace {

// The companion service: answers every check-in at once with the conversation and hold
// time the test sets, on the test's own clock, and every report as told.
class ServiceStub {
public:
    explicit ServiceStub(const FakeClock& clock)
    {
        http.setHandler([this, &clock](const FakeHttpClient::Request& request) {
            const QJsonObject asked = QJsonDocument::fromJson(request.body).object();
            if (request.url == url("/report")) {
                reports.append(asked);
                return FakeHttpClient::Answer{200, QJsonDocument(QJsonObject{{"ok", acceptReports}}).toJson()};
            }
            checkIns.append(asked);
            QJsonObject reply{{"n", asked.value("n")}, {"ts", clock.wallNow().toSecsSinceEpoch()},
                              {"mid", messageId},      {"msg", message},
                              {"tk", ticket}};
            if (hold)
                reply.insert("hold", *hold);
            return FakeHttpClient::Answer{200, QJsonDocument(reply).toJson()};
        });
    }

    static QUrl url(const char* path) { return QUrl(QStringLiteral("https://service.test%1").arg(path)); }
    void setConversation(const QString& ticketState, qint64 id = 0, const QString& body = {})
    {
        ticket = ticketState;
        messageId = id;
        message = body;
    }

    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    QString message;
    std::optional<qint64> hold;
    bool acceptReports = true;
    QList<QJsonObject> checkIns;
    QList<QJsonObject> reports;
    FakeHttpClient http;
};

class MessagesUiTest : public ::testing::Test, protected test::ShellFakes {
protected:
    void SetUp() override
    {
        Alert::reset();
        checkInUrl = stub.url("/check");
        reportUrl = stub.url("/report");
    }

    void TearDown() override { tearDownShell(); }

    // Launches in the taskbar or the tray and waits for the first check-in's answer.
    void launch(bool tray = false)
    {
        buildShell(http, tray);
        ASSERT_TRUE(answered());
    }

    // Every request posted so far has been answered and its follow-up has run.
    bool answered() const { return http.heldCount() == 0; }

    void checkIn()
    {
        delegate->syncWithServer();
        ASSERT_TRUE(answered());
    }

    qsizetype checkIns() const { return http.requestsTo(checkInUrl).size(); }
    bool pending() { return delegate->serviceClient().pendingMessage().has_value(); }
    HomeView* home() const { return window()->homeView(); }
    MessageBanner* banner() const { return home()->messageBanner(); }
    MessagesWindow* messages() const { return delegate->messagesWindow(); }
    QAction* messagesMenuItem() const { return delegate->mainMenu()->messagesAction(); }

    // The list's labels of one kind ("header", "body" or "empty"), top to bottom.
    QList<QLabel*> listed(const char* kind) const
    {
        return messages()->list()->widget()->findChildren<QLabel*>(QLatin1String(kind), Qt::FindDirectChildrenOnly);
    }

    ServiceStub stub{clock};
    FakeHttpClient& http = stub.http;
};

// ---- Badges ----

// Every place that shows the conversation follows two facts: one is open, and a message
// in it is unread. Shown in the banner or read elsewhere, the message goes quiet everywhere.
TEST_F(MessagesUiTest, TheBadgesFollowTheConversation)
{
    enum class Then { Nothing, ShowWindow, ReadElsewhere };
    const struct {
        const char* name;
        const char* ticket;
        qint64 id;
        bool open;
        Then then;
    } rows[] = {
        {"message outside a conversation", "none", 4, false, Then::Nothing},
        {"conversation without message", "open", 0, true, Then::Nothing},
        {"unread, then shown", "open", 5, true, Then::ShowWindow},
        {"unread, read elsewhere", "open", 6, true, Then::ReadElsewhere},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        stub.setConversation(QLatin1String(row.ticket), row.id, row.id ? QStringLiteral("Hello") : QString());
        launch(true); // the window stays hidden, so a message waits
        const auto expectBadges = [&](bool unread) {
            EXPECT_EQ(launcher.label, unread ? QStringLiteral("1") : QString());
            EXPECT_EQ(home()->messagesBadge()->isVisibleTo(home()), unread);
            EXPECT_EQ(home()->messagesButton()->isVisibleTo(home()), row.open);
            EXPECT_EQ(messagesMenuItem()->isVisible(), row.open);
            EXPECT_EQ(trayMenuItem("messages.banner_title")->isVisible(), unread);
            EXPECT_EQ(trayIcon()->icon().isMask(), !unread); // the full-colour icon has the dot
        };
        const bool unread = row.open && row.id;
        expectBadges(unread);
        delegate->toggleMenuBarMode(true); // a tray menu built now shows a pending message
        settle();
        EXPECT_EQ(trayMenuItem("messages.banner_title")->isVisible(), row.id != 0);
        if (row.then == Then::ShowWindow) {
            delegate->showMainWindow();
            EXPECT_NE(banner(), nullptr);
        }
        if (row.then == Then::ReadElsewhere)
            delegate->serviceClient().markMessageShown();
        emit delegate->statusMenu()->aboutToShow(); // opening the menu brings it up to date
        EXPECT_EQ(pending(), row.id && row.then == Then::Nothing);
        expectBadges(false);

        // After a restart an open conversation shows before the first check-in.
        buildShell(http, true, false);
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(messagesMenuItem()->isVisible(), row.open);
        EXPECT_EQ(home()->messagesButton()->isVisibleTo(home()), row.open);
        ASSERT_TRUE(answered());
    }
}

// ---- The banner ----

// Whatever the server sends, the banner leaves OK and the home view below within reach,
// and never runs wider than the window: a long text scrolls, an endless word is cut short.
// Return or a click on OK dismisses it; only then does Return lock.
TEST_F(MessagesUiTest, AnOversizedMessageScrollsInsideTheBanner)
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
        stub.setConversation(QStringLiteral("open"), id++, row.body);
        checkIn();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
        MessageBanner* shown = banner();
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(home()->rect().contains(shown->geometry()));
        EXPECT_LT(shown->geometry().bottom(), home()->lockButton()->mapTo(home(), QPoint(0, 0)).y());
        EXPECT_TRUE(shown->rect().contains(shown->okButton()->geometry()));

        QLabel* body = shown->bodyLabel();
        EXPECT_LE(body->width(), shown->bodyArea()->viewport()->width());
        for (const QString& line : body->text().split(QLatin1Char('\n'))) {
            for (const QString& word : line.split(QLatin1Char(' ')))
                EXPECT_LE(body->fontMetrics().horizontalAdvance(word), body->width());
        }
        EXPECT_EQ(shown->bodyArea()->verticalScrollBar()->maximum() > 0, row.scrolls);

        // The buttons under it still take clicks.
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
    EXPECT_FALSE(delegate->controller().isLocked());
    QTest::keyClick(home(), Qt::Key_Return);
    EXPECT_TRUE(delegate->controller().isLocked());
}

TEST_F(MessagesUiTest, MarkupFromTheServerIsShownAsLiteralText)
{
    const QString payload = QStringLiteral("<b>bold</b><img src=x>");
    stub.setConversation(QStringLiteral("open"), 3, payload);
    launch();
    ASSERT_NE(banner(), nullptr);
    EXPECT_EQ(banner()->bodyLabel()->text(), payload);
    EXPECT_EQ(banner()->bodyLabel()->textFormat(), Qt::PlainText);

    delegate->showMessages();
    ASSERT_EQ(listed("body").size(), 1);
    EXPECT_EQ(listed("body")[0]->text(), payload);
    EXPECT_EQ(listed("body")[0]->textFormat(), Qt::PlainText);
    EXPECT_EQ(listed("header")[0]->textFormat(), Qt::PlainText);
}

// A message is presented once: again asked, the first banner stays, a later reply with
// the same message shows nothing new, and the next check-in says which one was shown.
TEST_F(MessagesUiTest, AMessageIsPresentedOnce)
{
    stub.setConversation(QStringLiteral("open"), 12, QStringLiteral("Hello"));
    launch();
    const QPointer<MessageBanner> first = banner();
    ASSERT_NE(first, nullptr);
    delegate->presentMessageBanner();
    QApplication::processEvents();
    EXPECT_EQ(banner(), first.data());
    checkIn();
    EXPECT_EQ(banner(), first.data());
    EXPECT_FALSE(pending());
    ASSERT_EQ(stub.checkIns.size(), 2);
    EXPECT_FALSE(stub.checkIns[0].contains(QStringLiteral("m")));
    EXPECT_EQ(stub.checkIns[1].value(QStringLiteral("m")).toInteger(), 12);
}

// A check-in's message shows at once in a visible window; a hidden window or a lock keeps
// it waiting on the launcher, and the messages window stays shut during a lock. When the
// lock ends it shows, even in a tray window that stays closed.
TEST_F(MessagesUiTest, AMessageShowsOnlyInAVisibleWindowOutsideALock)
{
    const struct {
        const char* name;
        bool tray;
        bool locked;
    } rows[] = {{"visible", false, false}, {"hidden", true, false}, {"locked", false, true}, {"locked in the tray", true, true}};
    qint64 id = 20;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        stub.setConversation(QStringLiteral("none"));
        launch(row.tray);
        if (row.locked) {
            delegate->lockPressed();
            ASSERT_TRUE(delegate->controller().isLocked());
            if (!row.tray)
                window()->show();
        }
        stub.setConversation(QStringLiteral("open"), ++id, QStringLiteral("Hello"));
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
        EXPECT_TRUE(pending());
        holdToUnlock();
        ASSERT_FALSE(delegate->controller().isLocked());
        EXPECT_EQ(window()->isVisible(), !row.tray);
        EXPECT_NE(banner(), nullptr);
        EXPECT_FALSE(pending());
    }
}

// ---- The messages window ----

// The whole history, newest first, each entry headed by who said it and when; opening it
// reads a pending message. It opens from the menu or the home view's button, and is kept
// when closed.
TEST_F(MessagesUiTest, TheMessagesWindowListsTheHistoryNewestFirst)
{
    launch(true);
    messagesMenuItem()->trigger();
    MessagesWindow* first = messages();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(listed("body").isEmpty());
    EXPECT_EQ(listed("empty").size(), 1);
    first->close();

    delegate->serviceClient().archiveOwn(QStringLiteral("Does it work with two keyboards?"));
    clock.advance(90s);
    stub.setConversation(QStringLiteral("open"), 9, QStringLiteral("Yes, with every keyboard."));
    checkIn();
    ASSERT_EQ(launcher.label, QStringLiteral("1"));
    window()->show();
    QTest::mouseClick(home()->messagesButton(), Qt::LeftButton);
    EXPECT_EQ(messages(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(pending());
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
        delegate->serviceClient().archiveOwn(QStringLiteral("Reply number %1").arg(i));
    delegate->showMessages();
    EXPECT_EQ(listed("body")[0]->text(), QStringLiteral("Reply number 11"));
    EXPECT_GT(first->list()->verticalScrollBar()->maximum(), 0);
}

// Return sends the trimmed reply and lists it first as the user's own; a failed one stays
// listed and warns; one of only spaces is neither sent nor cleared.
TEST_F(MessagesUiTest, ReturnSendsTheReply)
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
    ASSERT_TRUE(QTest::qWaitForWindowActive(messages()));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        stub.acceptReports = row.accepted;
        stub.reports.clear();
        Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
        messages()->replyField()->setText(row.typed);
        QTest::keyClick(messages()->replyField(), Qt::Key_Return);
        ASSERT_TRUE(answered());
        const QList<Alert::Record> alerts = Alert::takeRecords();
        if (row.sent.isEmpty()) {
            EXPECT_EQ(messages()->replyField()->text(), row.typed);
            EXPECT_TRUE(stub.reports.isEmpty());
            EXPECT_TRUE(delegate->serviceClient().messageHistory().isEmpty());
            EXPECT_TRUE(alerts.isEmpty());
            continue;
        }
        EXPECT_TRUE(messages()->replyField()->text().isEmpty());
        ASSERT_EQ(stub.reports.size(), 1);
        EXPECT_EQ(stub.reports[0].value(QStringLiteral("text")).toString(), row.sent);
        EXPECT_FALSE(stub.reports[0].contains(QStringLiteral("email")));
        const ServiceClient::ArchivedMessage newest = delegate->serviceClient().messageHistory().value(0);
        EXPECT_EQ(newest.body, row.sent);
        EXPECT_TRUE(newest.mine);
        EXPECT_EQ(listed("body")[0]->text(), row.sent);
        EXPECT_TRUE(listed("header")[0]->text().startsWith(L("messages.you_prefix")));
        ASSERT_EQ(alerts.size(), row.accepted ? 0 : 1);
        if (!row.accepted) {
            EXPECT_EQ(alerts[0].text, L("messages.send_failed_message"));
        }
    }
}

// ---- Report a problem ----

// The typed problem goes trimmed, the address exactly as typed, and an alert says how it
// went; Cancel, Esc or only white space send nothing and say nothing. A report is not a
// message of the conversation.
TEST_F(MessagesUiTest, TheReportDialogSendsAndSaysHowItWent)
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
        stub.acceptReports = row.accepted;
        stub.reports.clear();
        Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
        settle(); // the last dialog goes
        delegate->reportProblemPressed();
        ReportProblemDialog* dialog = delegate->reportDialog();
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
        ASSERT_TRUE(answered());
        const QList<Alert::Record> alerts = Alert::takeRecords();
        ASSERT_EQ(alerts.size(), row.alert ? 1 : 0);
        ASSERT_EQ(stub.reports.size(), row.sent.isEmpty() ? 0 : 1);
        if (!row.alert)
            continue;
        EXPECT_EQ(alerts[0].text, L(row.alert));
        EXPECT_EQ(stub.reports[0].value(QStringLiteral("text")).toString(), row.sent);
        EXPECT_EQ(stub.reports[0].value(QStringLiteral("email")).toString(), email);
    }
    EXPECT_TRUE(delegate->serviceClient().messageHistory().isEmpty());
}

// ---- The check-in schedule ----

// Showing the window, opening the application again or opening the tray menu checks in
// only when the last check-in began more than two minutes before; before any, one is due.
// The hourly check-in runs whatever the last one was.
TEST_F(MessagesUiTest, ShowingTheApplicationChecksInWhenStale)
{
    buildShell(http, true, false);
    delegate->syncIfStale(AppDelegate::kSyncOnShowAfter);
    EXPECT_EQ(checkIns(), 1);
    ASSERT_TRUE(answered());

    const std::function<void(AppDelegate&)> shows[] = {
        [](AppDelegate& app) { app.showMainWindow(); },
        [](AppDelegate& app) { app.applicationShouldHandleReopen(true); },
        [](AppDelegate& app) { emit app.statusMenu()->aboutToShow(); },
    };
    for (const auto& show : shows) {
        launch(true);
        const qsizetype before = checkIns();
        clock.advance(AppDelegate::kSyncOnShowAfter);
        show(*delegate);
        EXPECT_EQ(checkIns(), before);
        clock.advance(500ms);
        show(*delegate);
        EXPECT_EQ(checkIns(), before + 1);
        clock.advance(60s); // counted from the last check-in, not from launch
        show(*delegate);
        EXPECT_EQ(checkIns(), before + 1);
        ASSERT_TRUE(answered());
    }
    clock.advance(AppDelegate::kSyncInterval - AppDelegate::kSyncOnShowAfter - 60s - 501ms);
    EXPECT_EQ(checkIns(), 7);
    clock.advance(1ms);
    EXPECT_EQ(checkIns(), 8);
    ASSERT_TRUE(answered());
}

// The server's hold time shows at once on the home view and in the settings' pop-up, even
// one the pop-up does not offer, unless the user chose one; showing it is not choosing.
TEST_F(MessagesUiTest, TheServersHoldTimeShowsWhenItArrives)
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
        stub.hold = row.server;
        launch();
        EXPECT_EQ(home()->hintLabel()->text(), L("home.unlock_hint", row.shown));
        EXPECT_EQ(settings()->holdPopUp()->currentData().toInt(), row.shown);
        EXPECT_EQ(defaults.integer(QStringLiteral("OWHoldSecondsUser")), row.user);
    }
}

} // namespace
