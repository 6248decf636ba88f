#pragma once

#include "Alert.h"
#include "Endpoints.h"
#include "HomeView.h"
#include "MainMenu.h"
#include "MessageBanner.h"
#include "MessagesWindow.h"
#include "ShellFakes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace ow::test {

// The companion service in process, on the fake HTTP client: each check-in is answered
// with the conversation and hold time the test set, each report as told, once the test
// lets the replies through. Update checks are never answered.
class FakeService {
public:
    FakeService(FakeHttpClient& http, const Clock& clock) : m_http(http), m_clock(clock) {}

    // Delivers the replies due, and those their follow-ups ask for.
    void reply()
    {
        for (qsizetype i = 0; i < m_http.heldCount();) {
            const FakeHttpClient::Request& request = m_http.held(i);
            if (request.kind == FakeHttpClient::Kind::Post)
                m_http.answerHeld(i, {200, QJsonDocument(answerTo(request)).toJson()});
            else
                ++i;
        }
    }
    void setConversation(const char* ticketState, qint64 id = 0, const QString& body = {})
    {
        ticket = QLatin1String(ticketState);
        messageId = id;
        message = body;
    }
    QList<QJsonObject> checkIns() const { return sent(checkInEndpoint()); }
    QList<QJsonObject> reports() const { return sent(reportEndpoint()); }

    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    QString message;
    std::optional<qint64> hold;
    bool acceptReports = true;

private:
    QJsonObject answerTo(const FakeHttpClient::Request& request) const
    {
        if (request.url != checkInEndpoint())
            return {{"ok", acceptReports}};
        QJsonObject reply{{"n", QJsonDocument::fromJson(request.body).object().value("n")},
                          {"ts", m_clock.wallNow().toSecsSinceEpoch()}, {"mid", messageId}, {"msg", message},
                          {"tk", ticket}};
        if (hold)
            reply.insert("hold", *hold);
        return reply;
    }
    QList<QJsonObject> sent(const QUrl& url) const
    {
        QList<QJsonObject> bodies;
        for (const FakeHttpClient::Request& request : m_http.requestsTo(url))
            bodies.append(QJsonDocument::fromJson(request.body).object());
        return bodies;
    }

    FakeHttpClient& m_http;
    const Clock& m_clock;
};

// The application shell on fakes, offscreen.
class ShellTest : public ::testing::Test, public ShellFakes {
protected:
    void SetUp() override { Alert::reset(); }
    void TearDown() override { tearDownShell(); }

    // Launched in the taskbar or the tray, with the first check-in answered.
    void launch(bool tray = false)
    {
        buildShell(tray);
        answer();
    }
    void answer()
    {
        service.reply();
        settle();
    }
    bool locked() const { return grab->grabbed; }
    HomeView* home() const { return window()->homeView(); }

    FakeService service{http(), clock()};
};

// The same, looking at the support conversation.
class ConversationTest : public ShellTest {
protected:
    void checkIn()
    {
        delegate->syncWithServer();
        answer();
    }
    MessageBanner* banner() const { return home()->messageBanner(); }
    MessagesWindow* messages() const { return topLevel<MessagesWindow>(); }
    QAction* messagesMenuItem() const { return window()->findChild<MainMenu*>()->messagesAction(); }
    // The messages window's labels of one kind ("header", "body" or "empty"), top to bottom.
    QList<QLabel*> listed(const char* kind) const
    {
        return messages()->list()->widget()->findChildren<QLabel*>(QLatin1String(kind), Qt::FindDirectChildrenOnly);
    }
    // Types a reply and presses Return, as the user does.
    void reply(const QString& text)
    {
        EXPECT_TRUE(QTest::qWaitForWindowActive(messages())); // Return is the window's shortcut
        messages()->replyField()->setText(text);
        QTest::keyClick(messages()->replyField(), Qt::Key_Return);
        answer();
    }
};

} // namespace ow::test
