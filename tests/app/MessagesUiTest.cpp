#include "Alert.h"
#include "AppDelegate.h"
#include "BadgeImageView.h"
#include "FakeClock.h"
#include "HomeView.h"
#include "Localizer.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "MessageBanner.h"
#include "MessagesWindow.h"
#include "QtHttpClient.h"
#include "ColorMath.h"
#include "ReportProblemDialog.h"
#include "ShellFakes.h"
#include "VisualKit.h"

#include <QApplication>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace ow;
using ow::test::over;
using ow::test::sameRgb;
using namespace std::chrono_literals;

namespace {

// The companion service on 127.0.0.1: answers every check-in with the conversation the
// test sets, on the test's own clock, and every report as told.
class ServiceStub {
public:
    explicit ServiceStub(const FakeClock& clock)
        : m_clock(clock)
    {
        m_server.route(QStringLiteral("/check"), [this](const QHttpServerRequest& request) {
            const QJsonObject asked = QJsonDocument::fromJson(request.body()).object();
            checkIns.append(asked);
            return QHttpServerResponse(QJsonObject{
                {QStringLiteral("n"), asked.value(QStringLiteral("n"))},
                {QStringLiteral("ts"), m_clock.wallNow().toSecsSinceEpoch()},
                {QStringLiteral("mid"), messageId},
                {QStringLiteral("msg"), message},
                {QStringLiteral("tk"), ticket},
            });
        });
        m_server.route(QStringLiteral("/report"), [this](const QHttpServerRequest& request) {
            reports.append(QJsonDocument::fromJson(request.body()).object());
            return QHttpServerResponse(QJsonObject{{QStringLiteral("ok"), acceptReports}});
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_port; }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }
    void setConversation(const QString& ticketState, qint64 id = 0, const QString& body = {})
    {
        ticket = ticketState;
        messageId = id;
        message = body;
    }

    QString ticket = QStringLiteral("none");
    qint64 messageId = 0;
    QString message;
    bool acceptReports = true;
    QList<QJsonObject> checkIns;
    QList<QJsonObject> reports;

private:
    const FakeClock& m_clock;
    QHttpServer m_server;
    quint16 m_port = 0;
};

// The real client, noting each post at once and each answer after its callback ran.
class CountingHttpClient final : public HttpClient {
public:
    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout, QObject* context,
              std::function<void(Response)> done) override
    {
        posted.append(url);
        m_real.post(url, body, timeout, context, [this, done = std::move(done)](Response response) {
            done(std::move(response));
            ++answered;
        });
    }

    qsizetype posts(const QUrl& url) const { return posted.count(url); }

    QList<QUrl> posted;
    qsizetype answered = 0;

private:
    QtHttpClient m_real;
};

// The colour of the most opaque pixel of an icon, without its alpha.
QColor iconInk(const QIcon& icon)
{
    const QImage image = icon.pixmap(QSize(15, 15)).toImage().convertToFormat(QImage::Format_ARGB32);
    QColor best(Qt::transparent);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > best.alpha())
                best = pixel;
        }
    }
    best.setAlpha(255);
    return best;
}

QImage argb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QString header(const char* prefixKey, const QDateTime& date)
{
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    return L(prefixKey) + QLatin1Char(' ') + locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ')
        + locale.toString(local.time(), QLocale::ShortFormat);
}

class MessagesUiTest : public ::testing::Test, protected test::ShellFakes {
protected:
    void SetUp() override
    {
        Alert::reset();
        QApplication::setQuitOnLastWindowClosed(false);
        ASSERT_NE(stub.port(), 0);
    }

    void TearDown() override
    {
        delegate.reset();
        Alert::reset();
    }

    // Builds the shell as the application does, on a desktop with a tray, without
    // launching it yet; the first launch's question was answered before.
    void create(bool menuBarMode = false)
    {
        defaults.setValue(QStringLiteral("OWOnboarded"), true);
        if (menuBarMode)
            defaults.setValue(QStringLiteral("OWMenuBarMode"), true);
        AppDelegate::Services shell = services(http);
        shell.checkInUrl = checkUrl();
        shell.reportUrl = reportUrl();
        shell.trayAvailable = [] { return true; };
        delegate = std::make_unique<AppDelegate>(shell, lockEngine(), updates());
    }

    // Launches in dock or tray mode and waits for the first check-in to be answered.
    void launch(bool menuBarMode = false)
    {
        create(menuBarMode);
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(settle());
    }

    // Every request posted so far has been answered and its follow-up has run.
    bool settle()
    {
        return QTest::qWaitFor([&] { return http.answered == http.posted.size(); }, 5000);
    }

    void checkIn()
    {
        delegate->syncWithServer();
        ASSERT_TRUE(settle());
    }

    // Ends a running lock the way the user does: both Ctrl keys held for the hold time.
    void holdToUnlock()
    {
        grab->report(0x100018);
        clock.runPosted();
        clock.advance(std::chrono::seconds(4));
        QApplication::processEvents();
    }

    QUrl checkUrl() const { return stub.url(QStringLiteral("/check")); }
    QUrl reportUrl() const { return stub.url(QStringLiteral("/report")); }
    MainWindow* window() const { return delegate->mainWindow(); }
    HomeView* home() const { return window()->homeView(); }
    MessageBanner* banner() const { return home()->messageBanner(); }
    MessagesWindow* messages() const { return delegate->messagesWindow(); }
    QAction* messagesMenuItem() const { return delegate->mainMenu()->messagesAction(); }

    // The list's labels of one kind ("header", "body" or "empty"), top to bottom.
    QList<QLabel*> listed(const char* kind) const
    {
        return messages()->list()->widget()->findChildren<QLabel*>(QLatin1String(kind), Qt::FindDirectChildrenOnly);
    }

    QColor text(qreal alpha) const
    {
        QColor color = home()->palette().color(QPalette::WindowText);
        color.setAlphaF(float(alpha));
        return color;
    }

    ServiceStub stub{clock};
    CountingHttpClient http;
    std::unique_ptr<AppDelegate> delegate;
};

// ---- Badges and the messages button ----

TEST_F(MessagesUiTest, AMessageOutsideAnOpenConversationLightsNothing)
{
    stub.setConversation(QStringLiteral("none"), 4, QStringLiteral("Hello"));
    launch(true);
    ASSERT_TRUE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_EQ(launcher.label, QString());
    EXPECT_FALSE(home()->messagesBadge()->isVisibleTo(home()));
    EXPECT_TRUE(home()->messagesBadge()->pixmap().isNull());
    EXPECT_FALSE(home()->messagesButton()->isVisibleTo(home()));
    EXPECT_FALSE(messagesMenuItem()->isVisible());
}

TEST_F(MessagesUiTest, AnOpenConversationWithoutMessageShowsOnlyTheButton)
{
    stub.setConversation(QStringLiteral("open"));
    launch();
    delegate->showMainWindow();
    EXPECT_EQ(launcher.label, QString());
    EXPECT_FALSE(home()->messagesBadge()->isVisible());
    EXPECT_TRUE(home()->messagesBadge()->pixmap().isNull());
    EXPECT_TRUE(home()->messagesButton()->isVisible());
    EXPECT_TRUE(sameRgb(iconInk(home()->messagesButton()->icon()), text(0.55), 3));
    EXPECT_TRUE(messagesMenuItem()->isVisible());
}

TEST_F(MessagesUiTest, AnUnreadMessageLightsEverythingUntilTheBannerShowsIt)
{
    stub.setConversation(QStringLiteral("open"), 7, QStringLiteral("Hello"));
    launch(true); // the window stays hidden, so the message waits
    EXPECT_EQ(banner(), nullptr);
    EXPECT_EQ(launcher.label, QStringLiteral("1"));
    EXPECT_TRUE(home()->messagesBadge()->isVisibleTo(home()));
    EXPECT_EQ(argb(home()->messagesBadge()->pixmap()), quotaBadgeImage(1, 14).convertToFormat(QImage::Format_ARGB32));
    EXPECT_TRUE(home()->messagesButton()->isVisibleTo(home()));
    const QColor accent = home()->palette().color(QPalette::Highlight);
    ASSERT_FALSE(sameRgb(accent, text(0.55), 3));
    EXPECT_TRUE(sameRgb(iconInk(home()->messagesButton()->icon()), accent, 3));
    EXPECT_TRUE(messagesMenuItem()->isVisible());

    delegate->showMainWindow();
    ASSERT_NE(banner(), nullptr);
    EXPECT_FALSE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_EQ(launcher.label, QString());
    EXPECT_FALSE(home()->messagesBadge()->isVisible());
    EXPECT_TRUE(home()->messagesBadge()->pixmap().isNull());
    EXPECT_TRUE(home()->messagesButton()->isVisible());
    EXPECT_TRUE(sameRgb(iconInk(home()->messagesButton()->icon()), text(0.55), 3));
    EXPECT_TRUE(messagesMenuItem()->isVisible());
}

// ---- The banner ----

TEST_F(MessagesUiTest, AOneWordBannerSitsAtTheTopWithTheMinimumHeight)
{
    stub.setConversation(QStringLiteral("open"), 1, QStringLiteral("Hello"));
    launch(true);
    delegate->showMainWindow();
    MessageBanner* shown = banner();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    const int width = home()->width();
    ASSERT_EQ(width, 430);
    EXPECT_EQ(shown->geometry(), QRect(16, 12, width - 32, 52));

    QLabel* title = shown->titleLabel();
    EXPECT_EQ(title->text(), L("messages.banner_title"));
    EXPECT_EQ(title->pos(), QPoint(12, 9));
    EXPECT_EQ(title->font().pixelSize(), 12);
    EXPECT_EQ(title->font().weight(), QFont::DemiBold);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), orbinMauve());

    QLabel* body = shown->bodyLabel();
    EXPECT_EQ(body->text(), QStringLiteral("Hello"));
    EXPECT_EQ(body->font().pixelSize(), 13);
    EXPECT_EQ(body->font().weight(), QFont::Normal);
    EXPECT_TRUE(body->wordWrap());
    const QRect bodyArea = shown->bodyArea()->geometry();
    EXPECT_EQ(bodyArea.x(), 12);
    EXPECT_EQ(bodyArea.y(), title->geometry().bottom() + 1 + 3);
    EXPECT_EQ(bodyArea.bottom() + 1, 52 - 10);
    EXPECT_LE(bodyArea.width(), width - 74);

    QPushButton* ok = shown->okButton();
    EXPECT_EQ(ok->text(), L("common.ok"));
    EXPECT_EQ(ok->geometry().right() + 1, shown->width() - 12);
    EXPECT_LE(bodyArea.right() + 1 + 10, ok->x());
    EXPECT_NEAR(ok->geometry().center().y(), 26, 1);

    // A faint mauve fill inside a stronger mauve border.
    QImage painted(shown->size(), QImage::Format_ARGB32);
    painted.fill(Qt::white);
    shown->render(&painted, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_TRUE(sameRgb(painted.pixelColor(6, 48), over(Qt::white, orbinMauve(), 0.13), 3));
    EXPECT_TRUE(sameRgb(painted.pixelColor(0, 26), over(over(Qt::white, orbinMauve(), 0.13), orbinMauve(), 0.42), 12));
    // The corners are rounded: the very corner stays white.
    EXPECT_EQ(painted.pixelColor(0, 0), QColor(Qt::white));
}

TEST_F(MessagesUiTest, ALongMessageGrowsTheBannerDownwards)
{
    QStringList words;
    for (int i = 0; i < 60; ++i)
        words << QStringLiteral("word%1").arg(i);
    stub.setConversation(QStringLiteral("open"), 1, words.join(QLatin1Char(' ')));
    launch(true);
    delegate->showMainWindow();
    MessageBanner* shown = banner();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->x(), 16);
    EXPECT_EQ(shown->y(), 12);
    EXPECT_EQ(shown->width(), 430 - 32);
    EXPECT_GT(shown->height(), 52 + 40);
    QLabel* body = shown->bodyLabel();
    EXPECT_LE(shown->bodyArea()->width(), 430 - 74);
    // The whole text is laid out, and the body still ends 10 px above the bottom.
    EXPECT_GE(body->height(), body->heightForWidth(body->width()));
    EXPECT_EQ(shown->bodyArea()->geometry().bottom() + 1, shown->height() - 10);
    EXPECT_NEAR(shown->okButton()->geometry().center().y(), shown->height() / 2, 1);
}

// Whatever the server sends, the banner leaves OK and the home view below within reach,
// and never runs wider than the window: a long text scrolls, an endless word is cut short.
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
        EXPECT_EQ(window()->width(), 430);
        EXPECT_EQ(shown->geometry().left(), 16);
        EXPECT_EQ(shown->geometry().right() + 1, 430 - 16);
        const QPoint lockTop = home()->lockButton()->mapTo(home(), QPoint(0, 0));
        EXPECT_LT(shown->geometry().bottom(), lockTop.y());
        EXPECT_TRUE(shown->rect().contains(shown->okButton()->geometry()));

        QLabel* body = shown->bodyLabel();
        EXPECT_LE(body->width(), shown->bodyArea()->viewport()->width());
        for (const QString& line : body->text().split(QLatin1Char('\n'))) {
            for (const QString& word : line.split(QLatin1Char(' ')))
                EXPECT_LE(body->fontMetrics().horizontalAdvance(word), body->width());
        }
        EXPECT_EQ(shown->bodyArea()->verticalScrollBar()->maximum() > 0, row.scrolls);
        EXPECT_EQ(body->textFormat(), Qt::PlainText);

        // The buttons under it still take clicks.
        QToolButton* gear = home()->settingsButton();
        QTest::mouseClick(window()->windowHandle(), Qt::LeftButton, {},
                          gear->mapTo(window(), gear->rect().center()));
        EXPECT_TRUE(window()->isShowingSettings());
        delegate->showMain();

        if (row.byReturn)
            QTest::keyClick(home(), Qt::Key_Return);
        else
            QTest::mouseClick(shown->okButton(), Qt::LeftButton);
        EXPECT_EQ(banner(), nullptr);
    }
    EXPECT_FALSE(delegate->controller().isLocked());
}

TEST(MessageBannerLayout, NeverShorterThanFiftyTwoWhateverTheFonts)
{
    QWidget host;
    host.resize(430, 641);
    MessageBanner banner(QStringLiteral("Hi"), &host);
    QFont tiny = banner.bodyLabel()->font();
    tiny.setPixelSize(5);
    banner.titleLabel()->setFont(tiny);
    banner.bodyLabel()->setFont(tiny);
    banner.layOut(host.width());
    EXPECT_EQ(banner.geometry(), QRect(16, 12, 430 - 32, 52));
    EXPECT_EQ(banner.bodyArea()->geometry().bottom() + 1, 52 - 10);
    EXPECT_NEAR(banner.okButton()->geometry().center().y(), 26, 1);
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
    ASSERT_NE(messages(), nullptr);
    const QList<QLabel*> bodies = listed("body");
    ASSERT_EQ(bodies.size(), 1);
    EXPECT_EQ(bodies[0]->text(), payload);
    EXPECT_EQ(bodies[0]->textFormat(), Qt::PlainText);
    EXPECT_EQ(listed("header")[0]->textFormat(), Qt::PlainText);
}

TEST_F(MessagesUiTest, ASecondPresentationKeepsTheFirstBanner)
{
    stub.setConversation(QStringLiteral("open"), 2, QStringLiteral("Hello"));
    launch();
    const QPointer<MessageBanner> first = banner();
    ASSERT_NE(first, nullptr);
    delegate->presentMessageBanner();
    QApplication::processEvents();
    EXPECT_EQ(banner(), first.data());
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(first->isVisible());
    // The same message in a later reply is not shown again.
    checkIn();
    EXPECT_EQ(banner(), first.data());
    EXPECT_FALSE(delegate->serviceClient().pendingMessage().has_value());
}

TEST_F(MessagesUiTest, OkOrReturnDismissesTheBannerThenReturnLocksAgain)
{
    stub.setConversation(QStringLiteral("open"), 2, QStringLiteral("Hello"));
    launch();
    ASSERT_NE(banner(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QTest::keyClick(home(), Qt::Key_Return);
    EXPECT_EQ(banner(), nullptr);
    EXPECT_FALSE(delegate->controller().isLocked());
    QTest::keyClick(home(), Qt::Key_Return);
    EXPECT_TRUE(delegate->controller().isLocked());
    holdToUnlock();

    stub.setConversation(QStringLiteral("open"), 3, QStringLiteral("Again"));
    checkIn();
    ASSERT_NE(banner(), nullptr);
    QTest::mouseClick(banner()->okButton(), Qt::LeftButton);
    EXPECT_EQ(banner(), nullptr);

    stub.setConversation(QStringLiteral("open"), 4, QStringLiteral("Once more"));
    checkIn();
    ASSERT_NE(banner(), nullptr);
    delegate->dismissMessageBanner();
    EXPECT_EQ(banner(), nullptr);
}

// ---- When a check-in shows the banner ----

TEST_F(MessagesUiTest, ACheckInShowsTheBannerInAVisibleWindow)
{
    launch();
    stub.setConversation(QStringLiteral("open"), 5, QStringLiteral("Hello"));
    checkIn();
    ASSERT_NE(banner(), nullptr);
    EXPECT_EQ(banner()->bodyLabel()->text(), QStringLiteral("Hello"));
    EXPECT_EQ(launcher.label, QString());
}

TEST_F(MessagesUiTest, ACheckInKeepsTheMessageForAHiddenWindow)
{
    launch(true);
    stub.setConversation(QStringLiteral("open"), 5, QStringLiteral("Hello"));
    checkIn();
    EXPECT_EQ(banner(), nullptr);
    EXPECT_TRUE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_EQ(launcher.label, QStringLiteral("1"));
}

TEST_F(MessagesUiTest, ACheckInDuringALockShowsNoBannerEvenOverAVisibleWindow)
{
    launch();
    delegate->lockPressed();
    ASSERT_TRUE(delegate->controller().isLocked());
    window()->show();
    stub.setConversation(QStringLiteral("open"), 5, QStringLiteral("Hello"));
    checkIn();
    EXPECT_EQ(banner(), nullptr);
    EXPECT_EQ(launcher.label, QStringLiteral("1"));
    delegate->presentMessageBanner();
    EXPECT_EQ(banner(), nullptr);
    EXPECT_TRUE(delegate->serviceClient().pendingMessage().has_value());
}

TEST_F(MessagesUiTest, AMessageThatCameDuringALockIsShownWhenItEnds)
{
    launch(true);
    delegate->lockPressed();
    ASSERT_TRUE(delegate->controller().isLocked());
    stub.setConversation(QStringLiteral("open"), 5, QStringLiteral("Hello"));
    checkIn();
    holdToUnlock();
    ASSERT_FALSE(delegate->controller().isLocked());
    // The tray window stays closed, yet the message is presented in it.
    EXPECT_FALSE(window()->isVisible());
    ASSERT_NE(banner(), nullptr);
    EXPECT_FALSE(delegate->serviceClient().pendingMessage().has_value());
}

// ---- The messages window ----

TEST_F(MessagesUiTest, MessagesDoNothingDuringALock)
{
    stub.setConversation(QStringLiteral("open"), 5, QStringLiteral("Hello"));
    launch(true);
    delegate->lockPressed();
    ASSERT_TRUE(delegate->controller().isLocked());
    delegate->showMessages();
    EXPECT_EQ(messages(), nullptr);
    EXPECT_TRUE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_EQ(launcher.label, QStringLiteral("1"));
}

TEST_F(MessagesUiTest, AnEmptyHistorySaysSoInTheMiddle)
{
    launch();
    delegate->showMessages();
    ASSERT_NE(messages(), nullptr);
    EXPECT_TRUE(messages()->isVisible());
    EXPECT_EQ(messages()->windowTitle(), L("messages.window_title"));
    EXPECT_EQ(messages()->size(), QSize(460, 520));
    EXPECT_EQ(messages()->minimumSize(), messages()->maximumSize());
    EXPECT_TRUE(listed("body").isEmpty());
    const QList<QLabel*> empty = listed("empty");
    ASSERT_EQ(empty.size(), 1);
    EXPECT_EQ(empty[0]->text(), L("messages.empty"));
    EXPECT_EQ(empty[0]->y(), 60);
    EXPECT_NEAR(empty[0]->geometry().center().x(), 230, 1);
    EXPECT_EQ(empty[0]->font().pixelSize(), 13);
    EXPECT_EQ(empty[0]->palette().color(QPalette::WindowText), text(0.55));
    EXPECT_EQ(messages()->list()->widget()->height(), 416);
}

TEST_F(MessagesUiTest, TheWindowHasTheListAboveTheReplyFieldSendButtonAndHint)
{
    launch();
    delegate->showMessages();
    MessagesWindow* shown = messages();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->list()->geometry(), QRect(0, 0, 460, 416));
    EXPECT_EQ(shown->list()->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(shown->replyField()->geometry(), QRect(22, 428, 416, 40));
    EXPECT_EQ(shown->replyField()->placeholderText(), L("messages.reply_placeholder"));
    EXPECT_EQ(shown->sendButton()->text(), L("common.send"));
    EXPECT_EQ(shown->sendButton()->geometry().right() + 1, 438);
    EXPECT_EQ(shown->sendButton()->geometry().bottom() + 1, 520 - 14);
    EXPECT_EQ(shown->hintLabel()->text(), L("messages.hint"));
    EXPECT_EQ(shown->hintLabel()->x(), 22);
    EXPECT_EQ(shown->hintLabel()->geometry().bottom() + 1, 520 - 20);
    EXPECT_EQ(shown->hintLabel()->font().pixelSize(), 11);
    EXPECT_EQ(shown->focusWidget(), shown->replyField());
    // Centred on its screen, frame included.
    const QRect area = shown->screen()->availableGeometry();
    EXPECT_NEAR(shown->frameGeometry().center().x(), area.center().x(), 1);
    EXPECT_NEAR(shown->frameGeometry().center().y(), area.center().y(), 1);

    // Kept when closed, and the same window comes back.
    shown->close();
    delegate->showMessages();
    EXPECT_EQ(messages(), shown);
    EXPECT_TRUE(shown->isVisible());
}

TEST_F(MessagesUiTest, OpeningMessagesReadsThePendingMessageAndListsItFirst)
{
    launch(true);
    const QDateTime asked = clock.wallNow();
    delegate->serviceClient().archiveOwn(QStringLiteral("Does it work with two keyboards?"));
    clock.advance(90s);
    stub.setConversation(QStringLiteral("open"), 9, QStringLiteral("Yes, with every keyboard."));
    checkIn();
    ASSERT_EQ(launcher.label, QStringLiteral("1"));
    const QDateTime answered = clock.wallNow();

    delegate->showMessages();
    ASSERT_NE(messages(), nullptr);
    EXPECT_FALSE(delegate->serviceClient().pendingMessage().has_value());
    EXPECT_EQ(launcher.label, QString());
    EXPECT_FALSE(home()->messagesBadge()->isVisibleTo(home()));

    const QList<QLabel*> headers = listed("header");
    const QList<QLabel*> bodies = listed("body");
    ASSERT_EQ(headers.size(), 2);
    ASSERT_EQ(bodies.size(), 2);
    EXPECT_EQ(bodies[0]->text(), QStringLiteral("Yes, with every keyboard."));
    EXPECT_EQ(bodies[1]->text(), QStringLiteral("Does it work with two keyboards?"));
    EXPECT_EQ(headers[0]->text(), header("messages.orbin_labs_prefix", answered));
    EXPECT_EQ(headers[1]->text(), header("messages.you_prefix", asked));

    // The server's words in the brand colour and full label colour, the user's own dimmer.
    EXPECT_EQ(headers[0]->palette().color(QPalette::WindowText), orbinMauve());
    EXPECT_EQ(headers[1]->palette().color(QPalette::WindowText), text(0.35));
    EXPECT_EQ(bodies[0]->palette().color(QPalette::WindowText), text(1.0));
    EXPECT_EQ(bodies[1]->palette().color(QPalette::WindowText), text(0.55));
    EXPECT_EQ(headers[0]->font().pixelSize(), 11);
    EXPECT_EQ(headers[0]->font().weight(), QFont::Medium);
    EXPECT_EQ(bodies[0]->font().pixelSize(), 13);
    EXPECT_TRUE(bodies[0]->wordWrap());
    EXPECT_TRUE(bodies[0]->textInteractionFlags() & Qt::TextSelectableByMouse);

    // Top-down from y = 20: header, 5 px, body 416 wide, 16 px, a line, 18 px, the next.
    EXPECT_EQ(headers[0]->pos(), QPoint(22, 20));
    EXPECT_EQ(bodies[0]->geometry().topLeft(), QPoint(22, headers[0]->geometry().bottom() + 1 + 5));
    EXPECT_EQ(bodies[0]->width(), 416);
    EXPECT_EQ(headers[1]->pos(), QPoint(22, bodies[0]->geometry().bottom() + 1 + 16 + 18));
    EXPECT_EQ(messages()->list()->widget()->height(), 416); // two short entries leave room
}

TEST_F(MessagesUiTest, ALongHistoryScrolls)
{
    launch(true);
    for (int i = 0; i < 12; ++i)
        delegate->serviceClient().archiveOwn(QStringLiteral("Reply number %1").arg(i));
    delegate->showMessages();
    const QList<QLabel*> bodies = listed("body");
    ASSERT_EQ(bodies.size(), 12);
    EXPECT_EQ(bodies[0]->text(), QStringLiteral("Reply number 11"));
    const int lastLine = bodies.last()->geometry().bottom() + 1 + 16 + 18;
    EXPECT_EQ(messages()->list()->widget()->height(), lastLine + 10);
    EXPECT_GT(messages()->list()->verticalScrollBar()->maximum(), 0);
}

// ---- Replies ----

TEST_F(MessagesUiTest, AReplyOfOnlySpacesIsNotSentAndStaysInTheField)
{
    launch();
    delegate->showMessages();
    messages()->replyField()->setText(QStringLiteral("   "));
    delegate->sendReply();
    EXPECT_EQ(messages()->replyField()->text(), QStringLiteral("   "));
    EXPECT_EQ(http.posts(reportUrl()), 0);
    EXPECT_TRUE(delegate->serviceClient().messageHistory().isEmpty());
}

TEST_F(MessagesUiTest, ReturnSendsTheTrimmedReplyAndListsItFirst)
{
    stub.setConversation(QStringLiteral("open"), 2, QStringLiteral("How can we help?"));
    launch();
    Alert::setNextAnswer(Alert::FirstButton); // a wrong alert must not block the test
    delegate->showMessages();
    ASSERT_TRUE(QTest::qWaitForWindowActive(messages()));
    messages()->replyField()->setText(QStringLiteral("  The screen stays black  "));
    QTest::keyClick(messages()->replyField(), Qt::Key_Return);
    EXPECT_TRUE(messages()->replyField()->text().isEmpty());
    const QList<QLabel*> bodies = listed("body");
    ASSERT_EQ(bodies.size(), 2);
    EXPECT_EQ(bodies[0]->text(), QStringLiteral("The screen stays black"));
    EXPECT_EQ(listed("header")[0]->text(), header("messages.you_prefix", clock.wallNow()));
    ASSERT_TRUE(settle());
    ASSERT_EQ(stub.reports.size(), 1);
    EXPECT_EQ(stub.reports[0].value(QStringLiteral("text")).toString(), QStringLiteral("The screen stays black"));
    EXPECT_FALSE(stub.reports[0].contains(QStringLiteral("email")));
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

TEST_F(MessagesUiTest, AFailedReplyStaysListedAsOwnAndWarns)
{
    stub.acceptReports = false;
    launch();
    Alert::setNextAnswer(Alert::FirstButton);
    delegate->showMessages();
    messages()->replyField()->setText(QStringLiteral("Still broken"));
    delegate->sendReply();
    ASSERT_TRUE(settle());
    ASSERT_EQ(stub.reports.size(), 1);
    const QList<Alert::Record> shown = Alert::takeRecords();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(shown[0].title, L("common.send_failed_title"));
    EXPECT_EQ(shown[0].text, L("messages.send_failed_message"));
    EXPECT_EQ(shown[0].buttons, QStringList{L("common.ok")});
    const QList<ServiceClient::ArchivedMessage> history = delegate->serviceClient().messageHistory();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history[0].body, QStringLiteral("Still broken"));
    EXPECT_TRUE(history[0].mine);
    EXPECT_EQ(listed("body")[0]->text(), QStringLiteral("Still broken"));
}

TEST_F(MessagesUiTest, TheMenuOpensMessagesOnlyDuringAConversation)
{
    launch(true);
    EXPECT_FALSE(messagesMenuItem()->isVisible());
    EXPECT_FALSE(home()->messagesButton()->isVisibleTo(home()));
    // The check-in that opens it shows both at once, even with the window in the tray.
    stub.setConversation(QStringLiteral("open"));
    checkIn();
    EXPECT_TRUE(messagesMenuItem()->isVisible());
    EXPECT_TRUE(home()->messagesButton()->isVisibleTo(home()));

    // After a restart both show from launch, before any reply.
    delegate.reset();
    create(true);
    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(messagesMenuItem()->isVisible());
    EXPECT_TRUE(home()->messagesButton()->isVisibleTo(home()));
    ASSERT_TRUE(settle());

    delegate->showMainWindow();
    messagesMenuItem()->trigger();
    ASSERT_NE(messages(), nullptr);
    EXPECT_TRUE(messages()->isVisible());

    messages()->close();
    QTest::mouseClick(home()->messagesButton(), Qt::LeftButton);
    EXPECT_TRUE(messages()->isVisible());
}

// ---- Report a problem ----

class ReportProblemTest : public MessagesUiTest {
protected:
    void SetUp() override
    {
        MessagesUiTest::SetUp();
        launch();
        // Any alert is answered at once, so that a wrong one cannot block the test.
        Alert::setNextAnswer(Alert::FirstButton);
    }

    ReportProblemDialog* openDialog()
    {
        delegate->reportProblemPressed();
        return delegate->reportDialog();
    }

    // Types into the dialog and presses one of its buttons, as the user does.
    void answer(const QString& text, const QString& email, bool send)
    {
        ReportProblemDialog* dialog = openDialog();
        ASSERT_NE(dialog, nullptr);
        dialog->textEdit()->setPlainText(text);
        dialog->emailField()->setText(email);
        QTest::mouseClick(send ? dialog->sendButton() : dialog->cancelButton(), Qt::LeftButton);
        ASSERT_TRUE(settle());
    }
};

TEST_F(ReportProblemTest, TheMenuItemFollowsCheckForUpdatesAndOpensTheDialog)
{
    QMenu* appMenu = delegate->mainMenu()->actions().first()->menu();
    ASSERT_NE(appMenu, nullptr);
    QStringList items;
    for (QAction* item : appMenu->actions())
        items << item->text();
    const qsizetype updates = items.indexOf(L("menu.check_updates"));
    ASSERT_GE(updates, 0);
    ASSERT_LT(updates + 1, items.size());
    EXPECT_EQ(items[updates + 1], L("menu.report_problem"));
    appMenu->actions().at(updates + 1)->trigger();
    ASSERT_NE(delegate->reportDialog(), nullptr);
    EXPECT_TRUE(delegate->reportDialog()->isVisible());
}

TEST_F(ReportProblemTest, TheDialogAsksForThePlainTextProblemAndAnOptionalAddress)
{
    ReportProblemDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->titleLabel()->text(), L("report.title"));
    EXPECT_EQ(dialog->messageLabel()->text(), L("report.message"));
    EXPECT_EQ(dialog->textEdit()->size(), QSize(380, 110));
    EXPECT_EQ(dialog->textEdit()->font().pixelSize(), 13);
    EXPECT_EQ(dialog->emailField()->size(), QSize(380, 24));
    EXPECT_EQ(dialog->emailField()->placeholderText(), L("report.email_placeholder"));
    EXPECT_LT(dialog->textEdit()->y(), dialog->emailField()->y());
    EXPECT_EQ(dialog->sendButton()->text(), L("common.send"));
    EXPECT_TRUE(dialog->sendButton()->isDefault());
    EXPECT_EQ(dialog->cancelButton()->text(), L("common.cancel"));
    EXPECT_EQ(dialog->focusWidget(), dialog->textEdit());
    // Asked again, the same dialog comes forward.
    EXPECT_EQ(openDialog(), dialog);
}

TEST_F(ReportProblemTest, CancelSendsNothing)
{
    answer(QStringLiteral("It froze"), QStringLiteral("me@example.org"), false);
    EXPECT_EQ(http.posts(reportUrl()), 0);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

TEST_F(ReportProblemTest, EscapeCancelsToo)
{
    ReportProblemDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->textEdit()->setPlainText(QStringLiteral("It froze"));
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_TRUE(settle());
    EXPECT_EQ(http.posts(reportUrl()), 0);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

TEST_F(ReportProblemTest, OnlyWhiteSpaceSendsNothingAndShowsNothing)
{
    answer(QStringLiteral(" \n\t \n "), QStringLiteral("me@example.org"), true);
    EXPECT_EQ(http.posts(reportUrl()), 0);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

TEST_F(ReportProblemTest, TheTextIsTrimmedTheAddressIsNotAndThanksFollow)
{
    answer(QStringLiteral("\n  It froze\nafter an hour  \n"), QStringLiteral(" me@example.org "), true);
    ASSERT_EQ(stub.reports.size(), 1);
    EXPECT_EQ(stub.reports[0].value(QStringLiteral("text")).toString(), QStringLiteral("It froze\nafter an hour"));
    EXPECT_EQ(stub.reports[0].value(QStringLiteral("email")).toString(), QStringLiteral(" me@example.org "));
    const QList<Alert::Record> shown = Alert::takeRecords();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, L("report.sent_title"));
    EXPECT_EQ(shown[0].text, L("report.sent_message"));
    EXPECT_EQ(shown[0].buttons, QStringList{L("common.ok")});
    // A report is not a message of the conversation.
    EXPECT_TRUE(delegate->serviceClient().messageHistory().isEmpty());
}

TEST_F(ReportProblemTest, AFailedReportSaysSo)
{
    stub.acceptReports = false;
    answer(QStringLiteral("It froze"), QString(), true);
    ASSERT_EQ(stub.reports.size(), 1);
    const QList<Alert::Record> shown = Alert::takeRecords();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(shown[0].title, L("common.send_failed_title"));
    EXPECT_EQ(shown[0].text, L("report.failed_message"));
    EXPECT_EQ(shown[0].buttons, QStringList{L("common.ok")});
}

// ---- The check-in schedule ----

TEST_F(MessagesUiTest, BeforeAnyCheckInOneIsAlwaysDue)
{
    create();
    EXPECT_EQ(http.posts(checkUrl()), 0);
    delegate->syncIfStale(AppDelegate::kSyncOnShowAfter);
    EXPECT_EQ(http.posts(checkUrl()), 1);
}

TEST_F(MessagesUiTest, ShowingTheWindowChecksInOnlyAfterTwoMinutes)
{
    launch();
    ASSERT_EQ(http.posts(checkUrl()), 1); // the launch check-in
    clock.advance(120s);
    delegate->showMainWindow();
    EXPECT_EQ(http.posts(checkUrl()), 1);
    clock.advance(500ms);
    delegate->showMainWindow();
    EXPECT_EQ(http.posts(checkUrl()), 2);
    // Counted from the last check-in, not from launch.
    clock.advance(60s);
    delegate->showMainWindow();
    EXPECT_EQ(http.posts(checkUrl()), 2);
}

TEST_F(MessagesUiTest, ReopeningTheApplicationChecksInWhenStale)
{
    launch();
    window()->hide();
    clock.advance(121s);
    delegate->applicationShouldHandleReopen(false);
    EXPECT_EQ(http.posts(checkUrl()), 2);
}

TEST_F(MessagesUiTest, TheHourlyCheckInRunsWhateverTheLastOneWas)
{
    launch();
    clock.advance(3000s);
    delegate->syncWithServer(); // a recent check-in does not delay the hourly one
    EXPECT_EQ(http.posts(checkUrl()), 2);
    clock.advance(599s);
    EXPECT_EQ(http.posts(checkUrl()), 2);
    clock.advance(1s);
    EXPECT_EQ(http.posts(checkUrl()), 3);
    clock.advance(3600s);
    EXPECT_EQ(http.posts(checkUrl()), 4);
    ASSERT_TRUE(settle());
}

TEST_F(MessagesUiTest, CheckInsSayWhichMessageWasShown)
{
    stub.setConversation(QStringLiteral("open"), 12, QStringLiteral("Hello"));
    launch();
    ASSERT_NE(banner(), nullptr);
    checkIn();
    ASSERT_EQ(stub.checkIns.size(), 2);
    EXPECT_FALSE(stub.checkIns[0].contains(QStringLiteral("m")));
    EXPECT_EQ(stub.checkIns[1].value(QStringLiteral("m")).toInteger(), 12);
}

} // namespace
