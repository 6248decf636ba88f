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
#include "VisualKit.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

namespace ow {

namespace {
constexpr char kMenuBarMode[] = "OWMenuBarMode";
constexpr char kOnboarded[] = "OWOnboarded";
constexpr int kUpdateCheckIntervalSeconds = 3600;

// The red dot beside the tray menu's messages item.
QIcon menuBadgeIcon()
{
    return QIcon(QPixmap::fromImage(quotaBadgeImage(1, 13)));
}

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
    , m_lockCommand(std::make_unique<LockCommand>(
          m_controller, m_services.permission, [this] { return static_cast<QWidget*>(m_mainWindow.data()); },
          [this] { bringWindowForward(); }))
    , m_service(m_services.defaults, m_services.http, m_services.lock.clock,
                orDefault(m_services.checkInUrl, checkInEndpoint), orDefault(m_services.reportUrl, reportEndpoint))
    , m_statusItem(m_services.lock.clock, nullptr, m_services.trayAvailable)
{
}

AppDelegate::~AppDelegate()
{
    delete m_statusMenu.data();
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

SettingsView* AppDelegate::settingsView() const
{
    return m_mainWindow ? m_mainWindow->settingsView() : nullptr;
}

QMenu* AppDelegate::statusMenu() const
{
    return m_statusMenu.data();
}

bool AppDelegate::menuBarMode(const UserDefaults& defaults)
{
    return defaults.boolean(QLatin1String(kMenuBarMode));
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The crash reporter sends what it finds at once: on the first launch only once the
    // user has answered the question, as nothing goes out before that.
    const bool answeredBefore = onboarded();
    if (answeredBefore)
        installCrashReporter();
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
    if (menuBarMode(m_services.defaults))
        m_statusItem.enable(buildStatusMenu());
    else if (m_mainWindow)
        m_mainWindow->activateWindow();
    // The server is first asked only once the user has answered.
    showOnboardingIfNeeded();
    if (!answeredBefore)
        installCrashReporter();
    // A conversation that was open at the last check-in shows before the next one.
    refreshMessageBadges();
    syncWithServer();
    // Every hour, whenever the last check-in was.
    m_syncTimer = m_services.lock.clock.schedule(kSyncInterval, true, [self = QPointer<AppDelegate>(this)] {
        if (self)
            self->syncWithServer();
    });
    m_updater->setUpdateCheckInterval(kUpdateCheckIntervalSeconds);
}

void AppDelegate::installCrashReporter()
{
    if (m_services.installCrashReporter)
        m_services.installCrashReporter();
}

bool AppDelegate::onboarded() const
{
    return m_services.defaults.boolean(QLatin1String(kOnboarded));
}

void AppDelegate::buildMainWindow()
{
    auto* home = new HomeView(int(holdDuration(m_services.defaults)));
    auto* settings = new SettingsView({.defaults = m_services.defaults,
                                       .updater = *m_updater,
                                       .loginItem = m_services.loginItem,
                                       .log = m_services.log,
                                       .openUrl = m_services.openUrl},
                                      menuBarMode(m_services.defaults));
    m_mainWindow = new MainWindow(home, settings, m_menu);
    connect(home, &HomeView::lockPressed, this, &AppDelegate::lockPressed);
    connect(home, &HomeView::showSettings, this, &AppDelegate::showSettings);
    connect(home, &HomeView::showMessages, this, &AppDelegate::showMessages);
    connect(settings, &SettingsView::backRequested, this, &AppDelegate::showMain);
    connect(settings, &SettingsView::holdSecondsChanged, home, &HomeView::setHoldSeconds);
    connect(settings, &SettingsView::menuBarModeToggled, this, &AppDelegate::toggleMenuBarMode);
    connect(settings, &SettingsView::checkForUpdatesRequested, m_updater.get(), &UpdateController::checkForUpdates);
    connect(settings, &SettingsView::reportProblemRequested, this, &AppDelegate::reportProblemPressed);
    // In the tray the window stays hidden until the user asks for it.
    if (!menuBarMode(m_services.defaults))
        m_mainWindow->show();
}

// Without a tray host there is no icon to come back through, so the taskbar keeps the
// window reachable even in tray mode.
bool AppDelegate::keepsOutOfTaskbar() const
{
    return menuBarMode(m_services.defaults) && m_services.trayAvailable();
}

void AppDelegate::showKeptOutOfTaskbar()
{
    m_mainWindow->show();
    // Told every time: a window that was out of the taskbar must come back into it.
    m_services.taskbar.setSkipTaskbar(m_mainWindow->winId(), keepsOutOfTaskbar());
}

void AppDelegate::showOnboardingIfNeeded()
{
    if (onboarded())
        return;
    // Stored first: if the process ends during the question, it is not asked again.
    m_services.defaults.setValue(QLatin1String(kOnboarded), true);
    // Centred on the screen: the window manager may not have placed the window yet, and in
    // the tray there is no window.
    m_askingDisplayMode = true;
    const int answer = Alert::run(nullptr, QMessageBox::Question, L("onboarding.welcome_title"),
                                  L("onboarding.welcome_message"),
                                  {L("onboarding.dock_button"), L("onboarding.menubar_button")});
    m_askingDisplayMode = false;
    // Only the tray's own button chooses the tray; closing the question keeps the taskbar.
    const bool inTray = answer == Alert::SecondButton;
    m_services.defaults.setValue(QLatin1String(kMenuBarMode), inTray);
    if (SettingsView* settings = settingsView())
        settings->setMenuBarMode(inTray);
    applyDisplayMode();
}

void AppDelegate::applyDisplayMode()
{
    const QPointer<AppDelegate> self(this);
    if (menuBarMode(m_services.defaults)) {
        m_statusItem.enable(buildStatusMenu());
        // After the icon is up, so that the window does not come and go in the taskbar.
        m_services.lock.clock.post([self] {
            if (self && self->m_mainWindow)
                self->bringWindowForward();
        });
        return;
    }
    m_statusItem.disable();
    m_services.lock.clock.post([self] {
        if (self)
            self->showMainWindow();
    });
}

void AppDelegate::toggleMenuBarMode(bool on)
{
    m_services.defaults.setValue(QLatin1String(kMenuBarMode), on);
    applyDisplayMode();
}

QMenu* AppDelegate::buildStatusMenu()
{
    auto* menu = new QMenu;
    connect(menu->addAction(L("lock.button")), &QAction::triggered, this, &AppDelegate::lockPressed);
    connect(menu->addAction(L("menu.open_app")), &QAction::triggered, this, &AppDelegate::showMainWindow);
    QAction* messages = menu->addAction(L("messages.banner_title"));
    const bool pending = m_service.pendingMessage().has_value();
    messages->setVisible(pending);
    if (pending)
        messages->setIcon(menuBadgeIcon());
    connect(messages, &QAction::triggered, this, &AppDelegate::showMessages);
    menu->addSeparator();
    connect(menu->addAction(L("menu.check_updates")), &QAction::triggered, m_updater.get(),
            &UpdateController::checkForUpdates);
    connect(menu->addAction(L("menu.report_problem")), &QAction::triggered, this, &AppDelegate::reportProblemPressed);
    menu->addSeparator();
    QAction* quitItem = menu->addAction(L("menu.quit"));
    quitItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quitItem->setShortcutVisibleInContextMenu(true);
    connect(quitItem, &QAction::triggered, this, &AppDelegate::quit);
    connect(menu, &QMenu::aboutToShow, this, &AppDelegate::menuWillOpen);

    // The tray shows the new menu from now on; the old one may still be closing.
    if (m_statusMenu)
        m_statusMenu->deleteLater();
    m_statusMenu = menu;
    m_statusMessagesItem = messages;
    return menu;
}

void AppDelegate::menuWillOpen()
{
    syncIfStale(kSyncOnShowAfter);
    refreshMessageBadges();
}

void AppDelegate::onUnlock()
{
    // In the dock the window always comes back; in the tray only if it was open.
    if (!menuBarMode(m_services.defaults) || m_lockCommand->restoreWindowAfterUnlock())
        showMainWindow();
    // A message that came during the lock shows now, even with the window in the tray.
    presentMessageBanner();
}

void AppDelegate::bringWindowForward()
{
    // Raising a minimised window would leave it minimised.
    m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    showKeptOutOfTaskbar();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWindow)
        return;
    bringWindowForward();
    refreshMessageBadges();
    presentMessageBanner();
    syncIfStale(kSyncOnShowAfter);
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    // A window on screen comes forward, also from under others or from the taskbar. A
    // hidden one in the tray stays hidden: the icon brings it, and without a tray host only
    // a new launch can.
    const bool reachableFromTray = menuBarMode(m_services.defaults) && m_services.trayAvailable();
    if (hasVisibleWindows || !reachableFromTray)
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

void AppDelegate::showHoldDuration()
{
    const int seconds = int(holdDuration(m_services.defaults));
    if (HomeView* home = homeView())
        home->setHoldSeconds(seconds);
    if (SettingsView* settings = settingsView())
        settings->showHoldSeconds(seconds);
}

HomeView* AppDelegate::homeView() const
{
    return m_mainWindow ? m_mainWindow->homeView() : nullptr;
}

void AppDelegate::refreshMessageBadges()
{
    const bool open = m_service.ticketState() == QLatin1String("open");
    const bool unread = open && m_service.pendingMessage().has_value();
    // Each place that shows the conversation follows these two facts.
    m_services.launcher.setBadgeLabel(unread ? QStringLiteral("1") : QString());
    if (HomeView* home = homeView())
        home->setMessagesState(open, unread);
    if (m_menu)
        m_menu->messagesAction()->setVisible(open);
    m_statusItem.setBadge(unread);
    if (m_statusMessagesItem) {
        m_statusMessagesItem->setVisible(unread);
        m_statusMessagesItem->setIcon(unread ? menuBadgeIcon() : QIcon());
    }
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
    // Nothing goes out before the user has answered the first launch's question.
    if (!onboarded() || m_askingDisplayMode)
        return;
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
    // The reply may have changed the hold time or opened or closed the conversation.
    showHoldDuration();
    refreshMessageBadges();
    if (!m_service.pendingMessage())
        return;
    // A hidden window keeps the message for the next time it is shown.
    if (!m_controller.isLocked() && m_mainWindow && m_mainWindow->isVisible())
        presentMessageBanner();
}

} // namespace ow
