#pragma once

#include "Alert.h"
#include "Endpoints.h"
#include "HomeView.h"
#include "HttpClient.h"
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

// The companion service in process: each check-in is answered with the conversation and
// hold time the test set, each report as told, once the test lets the replies through.
class FakeService final : public HttpClient {
public:
    explicit FakeService(const Clock& clock) : m_clock(clock) {}

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds, QObject* context,
              std::function<void(Response)> done) override
    {
        const QJsonObject asked = QJsonDocument::fromJson(body).object();
        QJsonObject reply{{"ok", acceptReports}};
        if (url == checkInEndpoint()) {
            checkIns.append(asked);
            reply = {{"n", asked.value("n")}, {"ts", m_clock.wallNow().toSecsSinceEpoch()}, {"mid", messageId},
                     {"msg", message}, {"tk", ticket}};
            if (hold)
                reply.insert("hold", *hold);
        } else {
            reports.append(asked);
        }
        m_replies.append([context = QPointer<QObject>(context), done = std::move(done), reply] {
            if (context)
                done({true, 200, QJsonDocument(reply).toJson()});
        });
    }

    // Delivers the replies due, and those their follow-ups ask for.
    void reply()
    {
        while (!m_replies.isEmpty())
            m_replies.takeFirst()();
    }
    void setConversation(const char* ticketState, qint64 id = 0, const QString& body = {})
    {
        ticket = QLatin1String(ticketState);
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

private:
    const Clock& m_clock;
    QList<std::function<void()>> m_replies;
};

// The application shell on fakes, offscreen.
class ShellTest : public ::testing::Test, public ShellFakes {
protected:
    void SetUp() override { Alert::reset(); }
    void TearDown() override { tearDownShell(); }

    // Launched in the taskbar or the tray, with the first check-in answered.
    void launch(bool tray = false)
    {
        buildShell(service, tray);
        answer();
    }
    void answer()
    {
        service.reply();
        settle();
    }
    bool locked() const { return grab->grabbed; }
    HomeView* home() const { return window()->homeView(); }

    FakeService service{clock};
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
