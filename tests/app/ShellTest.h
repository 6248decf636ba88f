#pragma once

#include "Alert.h"
#include "AppDelegate.h"
#include "Endpoints.h"
#include "FakePlatform.h"
#include "HomeView.h"
#include "Localizer.h"
#include "LockEngineChoice.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "MessageBanner.h"
#include "MessagesWindow.h"
#include "UpdateController.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
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

// The application shell built in process on the fake platform, offscreen.
class ShellTest : public ::testing::Test, public FakePlatform {
public:
    void SetUp() override { Alert::reset(); }
    void TearDown() override
    {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Alert::reset();
    }

    // Builds `delegate`, its update checks (`updater`) on the fake HTTP client, on a desktop
    // whose tray host runs while `trayHost` says so. `asked`: the first launch's question was
    // answered with `tray`; otherwise the store keeps what the test put there. `start`:
    // launched, and what the launch queued run.
    void buildShell(bool tray, bool start = true, bool asked = true)
    {
        QApplication::setQuitOnLastWindowClosed(false);
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (asked) {
            defaults().setValue(QStringLiteral("OWOnboarded"), true);
            defaults().setValue(QStringLiteral("OWMenuBarMode"), tray);
        }
        AppDelegate::Services shell = AppDelegate::Services::of(*this);
        shell.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        shell.trayAvailable = [this] { return trayHost; };
        shell.installCrashReporter = [this] { ++crashReporterInstalls; };
        UpdateController::Setup setup;
        setup.settingsPath = dir.filePath(QStringLiteral("updates.ini"));
        setup.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/none.xml")); // only ever asked of the fake client
        setup.openUrl = [](const QUrl&) { return true; };
        auto updates = std::make_unique<UpdateController>(clock(), http(), setup);
        updater = updates.get();
        // As the application builds it, on a desktop where the X11 grab is at hand.
        delegate = std::make_unique<AppDelegate>(shell, std::make_unique<LockEngineChoice>(*this, [] { return true; }),
                                                 std::move(updates));
        if (!start)
            return;
        delegate->applicationDidFinishLaunching();
        settle();
    }
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
    // Runs what was posted and what Qt queued.
    void settle()
    {
        clock().runPosted();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    // Ends a running lock the way the user does: both Ctrl keys held for the hold time.
    void holdToUnlock()
    {
        grab->report(0x100018);
        clock().runPosted();
        clock().advance(std::chrono::seconds(4));
        QApplication::processEvents();
    }

    // The first top-level window of this type, as the user would find it on screen.
    template <typename Window>
    static Window* topLevel()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<Window*>(widget))
                return window;
        }
        return nullptr;
    }
    MainWindow* window() const { return topLevel<MainWindow>(); }
    HomeView* home() const { return window()->homeView(); }
    SettingsView* settings() const { return window()->settingsView(); }
    bool skipsTaskbar() { return taskbar().skipped.value(window()->winId()); }
    bool locked() const { return grab->grabbed; }
    // The tray icon on show, if any; a removed one may linger hidden until deleted.
    QSystemTrayIcon* trayIcon() const
    {
        for (QSystemTrayIcon* tray : delegate->findChildren<QSystemTrayIcon*>()) {
            if (tray->isVisible())
                return tray;
        }
        return nullptr;
    }
    // The tray menu's item with this catalogue key's text.
    QAction* trayMenuItem(const char* key) const
    {
        for (QAction* item : trayIcon()->contextMenu()->actions()) {
            if (item->text() == L(key))
                return item;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    UpdateController* updater = nullptr;
    bool trayHost = true;
    int crashReporterInstalls = 0;
    QList<QUrl> opened; // by the user's browser
    std::unique_ptr<AppDelegate> delegate;
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
