#include "AppDelegate.h"

#include "Alert.h"
#include "Endpoints.h"
#include "HoldDuration.h"
#include "HomeView.h"
#include "LauncherBadge.h"
#include "Localizer.h"
#include "LockCommand.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "MessagesWindow.h"
#include "ReportProblemDialog.h"
#include "SettingsView.h"
#include "TaskbarPresence.h"
#include "UpdateController.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace ow {

namespace {
constexpr char kMenuBarMode[] = "OWMenuBarMode";
constexpr int kUpdateCheckIntervalSeconds = 3600;

QUrl orDefault(const QUrl& url, QUrl (*builtIn)())
{
    return url.isEmpty() ? builtIn() : url;
}

} // namespace

AppDelegate::AppDelegate(Services services, std::unique_ptr<LockEngine> engine,
                         std::unique_ptr<UpdateController> updater)
    : m_services(std::move(services))
    , m_controller(std::move(engine), m_services.lock)
    , m_updater(std::move(updater))
    , m_lockCommand(std::make_unique<LockCommand>(m_controller, m_services.permission,
                                                  [this] { return static_cast<QWidget*>(m_mainWindow.data()); }))
    , m_service(m_services.defaults, m_services.http, m_services.lock.clock,
                orDefault(m_services.checkInUrl, checkInEndpoint), orDefault(m_services.reportUrl, reportEndpoint))
{
}

AppDelegate::~AppDelegate()
{
    delete m_messagesWindow.data();
    delete m_mainWindow.data();
}

MainWindow* AppDelegate::mainWindow() const
{
    return m_mainWindow.data();
}

MainMenu* AppDelegate::mainMenu() const
{
    return m_menu.data();
}

MessagesWindow* AppDelegate::messagesWindow() const
{
    return m_messagesWindow.data();
}

ReportProblemDialog* AppDelegate::reportDialog() const
{
    return m_reportDialog.data();
}

bool AppDelegate::menuBarMode(const UserDefaults& defaults)
{
    return defaults.boolean(QLatin1String(kMenuBarMode));
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_services.installCrashReporter)
        m_services.installCrashReporter();
    m_menu = new MainMenu({.checkForUpdates = [this] { m_updater->checkForUpdates(); },
                           .reportProblem = [this] { reportProblemPressed(); },
                           .showMessages = [this] { showMessages(); },
                           .closeOrBack = [this] { closeOrBack(); },
                           .quit = [this] { quit(); }});
    buildMainWindow();
    m_controller.setOnUnlock([self = QPointer<AppDelegate>(this)] {
        if (self)
            self->onUnlock();
    });
    if (!menuBarMode(m_services.defaults) && m_mainWindow)
        m_mainWindow->activateWindow();
    syncWithServer();
    // Every hour, whenever the last check-in was.
    m_syncTimer = m_services.lock.clock.schedule(kSyncInterval, true, [self = QPointer<AppDelegate>(this)] {
        if (self)
            self->syncWithServer();
    });
    m_updater->setUpdateCheckInterval(kUpdateCheckIntervalSeconds);
}

void AppDelegate::buildMainWindow()
{
    auto* home = new HomeView(int(holdDuration(m_services.defaults)));
    auto* settings = new SettingsView;
    m_mainWindow = new MainWindow(home, settings, m_menu);
    connect(home, &HomeView::lockPressed, this, &AppDelegate::lockPressed);
    connect(home, &HomeView::showSettings, this, &AppDelegate::showSettings);
    connect(home, &HomeView::showMessages, this, &AppDelegate::showMessages);
    connect(settings, &SettingsView::backRequested, this, &AppDelegate::showMain);
    // In the tray the window stays hidden until the user asks for it.
    if (!menuBarMode(m_services.defaults))
        m_mainWindow->show();
}

void AppDelegate::showKeptOutOfTaskbar()
{
    m_mainWindow->show();
    if (menuBarMode(m_services.defaults))
        m_services.taskbar.setSkipTaskbar(m_mainWindow->winId(), true);
}

void AppDelegate::onUnlock()
{
    // In the dock the window always comes back; in the tray only if it was open.
    if (!menuBarMode(m_services.defaults) || m_lockCommand->restoreWindowAfterUnlock())
        showMainWindow();
    // A message that came during the lock shows now, even with the window in the tray.
    presentMessageBanner();
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWindow)
        return;
    showKeptOutOfTaskbar();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
    refreshMessageBadges();
    presentMessageBanner();
    syncIfStale(kSyncOnShowAfter);
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows && !menuBarMode(m_services.defaults))
        showMainWindow();
    return true;
}

void AppDelegate::lockPressed()
{
    m_lockCommand->lockPressed();
}

bool AppDelegate::restoreWindowAfterUnlock() const
{
    return m_lockCommand->restoreWindowAfterUnlock();
}

void AppDelegate::showSettings()
{
    if (m_mainWindow)
        m_mainWindow->showSettingsView();
}

void AppDelegate::showMain()
{
    if (m_mainWindow)
        m_mainWindow->showHomeView();
}

void AppDelegate::closeOrBack()
{
    if (!m_mainWindow)
        return;
    if (m_mainWindow->isShowingSettings()) {
        showMain();
        return;
    }
    m_mainWindow->close();
}

void AppDelegate::quit()
{
    QCoreApplication::quit();
}

HomeView* AppDelegate::homeView() const
{
    return m_mainWindow ? m_mainWindow->homeView() : nullptr;
}

void AppDelegate::refreshMessageBadges()
{
    const bool open = m_service.ticketState() == QLatin1String("open");
    const bool unread = open && m_service.pendingMessage().has_value();
    // Each place that shows the conversation follows these two facts; the tray icon and
    // its menu are to join them here.
    m_services.launcher.setBadgeLabel(unread ? QStringLiteral("1") : QString());
    if (HomeView* home = homeView())
        home->setMessagesState(open, unread);
    if (m_menu)
        m_menu->messagesAction()->setVisible(open);
}

void AppDelegate::presentMessageBanner()
{
    const std::optional<ServiceClient::PendingMessage>& message = m_service.pendingMessage();
    HomeView* home = homeView();
    if (!message || !home || m_controller.isLocked())
        return;
    home->showMessageBanner(message->body);
    m_service.markMessageShown();
    refreshMessageBadges();
}

void AppDelegate::dismissMessageBanner()
{
    if (HomeView* home = homeView())
        home->dismissMessageBanner();
}

void AppDelegate::showMessages()
{
    if (m_controller.isLocked())
        return;
    if (m_service.pendingMessage()) {
        m_service.markMessageShown();
        refreshMessageBadges();
    }
    if (!m_messagesWindow) {
        m_messagesWindow = new MessagesWindow;
        connect(m_messagesWindow, &MessagesWindow::sendPressed, this, &AppDelegate::sendReply);
    }
    m_messagesWindow->setHistory(m_service.messageHistory());
    m_messagesWindow->present();
}

void AppDelegate::sendReply()
{
    if (!m_messagesWindow)
        return;
    QLineEdit* field = m_messagesWindow->replyField();
    const QString text = field->text().trimmed();
    if (text.isEmpty())
        return;
    field->clear();
    m_service.archiveOwn(text);
    showMessages();
    m_service.reportProblem(text, std::nullopt, [self = QPointer<AppDelegate>(this)](bool sent) {
        if (sent || !self)
            return;
        // The reply stays in the history as written; only its delivery failed.
        Alert::run(self->m_messagesWindow, QMessageBox::Warning, L("common.send_failed_title"),
                   L("messages.send_failed_message"), {L("common.ok")});
    });
}

void AppDelegate::reportProblemPressed()
{
    if (m_reportDialog) {
        m_reportDialog->raise();
        m_reportDialog->activateWindow();
        return;
    }
    m_reportDialog = new ReportProblemDialog(m_mainWindow);
    connect(m_reportDialog, &QDialog::accepted, this, [this, dialog = m_reportDialog] {
        sendReport(dialog->textEdit()->toPlainText(), dialog->emailField()->text());
    });
    connect(m_reportDialog, &QDialog::finished, m_reportDialog, &QObject::deleteLater);
    m_reportDialog->show();
}

void AppDelegate::sendReport(const QString& typedText, const QString& email)
{
    const QString text = typedText.trimmed();
    if (text.isEmpty())
        return;
    // The address goes exactly as typed: the server decides what it accepts.
    m_service.reportProblem(text, email, [self = QPointer<AppDelegate>(this)](bool sent) {
        if (!self)
            return;
        if (sent)
            Alert::run(self->m_mainWindow, QMessageBox::Information, L("report.sent_title"),
                       L("report.sent_message"), {L("common.ok")});
        else
            Alert::run(self->m_mainWindow, QMessageBox::Warning, L("common.send_failed_title"),
                       L("report.failed_message"), {L("common.ok")});
    });
}

void AppDelegate::syncWithServer()
{
    m_lastSyncAt = m_services.lock.clock.monotonicNow();
    m_service.checkWithServer([self = QPointer<AppDelegate>(this)] {
        if (self)
            self->checkInFinished();
    });
}

void AppDelegate::syncIfStale(std::chrono::seconds maxAge)
{
    if (!m_lastSyncAt || m_services.lock.clock.monotonicNow() - *m_lastSyncAt > maxAge)
        syncWithServer();
}

void AppDelegate::checkInFinished()
{
    if (!m_service.pendingMessage())
        return;
    refreshMessageBadges();
    // A hidden window keeps the message for the next time it is shown.
    if (!m_controller.isLocked() && m_mainWindow && m_mainWindow->isVisible())
        presentMessageBanner();
}

} // namespace ow
