#include "AppDelegate.h"

#include "CheckInSchedule.h"
#include "DisplayModeController.h"
#include "Endpoints.h"
#include "HoldDuration.h"
#include "HomeView.h"
#include "LockCommand.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "Platform.h"
#include "SettingsView.h"
#include "StatusItemController.h"
#include "SupportConversation.h"
#include "TrayMenu.h"
#include "UpdateController.h"

#include <QCoreApplication>

namespace ow {

AppDelegate::Services AppDelegate::Services::of(Platform& platform)
{
    return {.defaults = platform.defaults(),
            .lock = LockController::Services::of(platform),
            .permission = platform.permission(),
            .taskbar = platform.taskbar(),
            .launcher = platform.launcher(),
            .http = platform.http(),
            .loginItem = platform.loginItem(),
            .log = platform.log(),
            .installCrashReporter = {}};
}

namespace {

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
    , m_service(m_services.defaults, m_services.http, m_services.lock.clock,
                orDefault(m_services.checkInUrl, checkInEndpoint), orDefault(m_services.reportUrl, reportEndpoint))
    , m_statusItem(new StatusItemController(m_services.lock.clock, this, m_services.trayAvailable))
    , m_displayMode(new DisplayModeController({.defaults = m_services.defaults,
                                               .taskbar = m_services.taskbar,
                                               .clock = m_services.lock.clock,
                                               .trayIcon = *m_statusItem,
                                               .trayAvailable = m_services.trayAvailable,
                                               .trayMenu = [this] { return buildTrayMenu(); }},
                                              this))
    , m_conversation(new SupportConversation({.service = m_service,
                                              .lock = m_controller,
                                              .launcher = m_services.launcher,
                                              .trayIcon = *m_statusItem},
                                             this))
    // Nothing goes out before the user has answered the first launch's question.
    , m_checkIns(new CheckInSchedule(m_service, m_services.lock.clock,
                                     [this] { return m_displayMode->onboarded() && !m_displayMode->isAsking(); },
                                     this))
    , m_lockCommand(std::make_unique<LockCommand>(
          m_controller, m_services.permission, [this] { return static_cast<QWidget*>(m_mainWindow.data()); },
          [this] { m_displayMode->bringWindowForward(); }))
{
    connect(m_displayMode, &DisplayModeController::windowWanted, this, &AppDelegate::showMainWindow);
    connect(m_checkIns, &CheckInSchedule::checkedIn, this, &AppDelegate::checkInFinished);
    // The updater's own switches may say yes while the first launch's question is still to
    // come, when the application's settings were lost: nothing goes out before the answer.
    m_updater->holdBackgroundChecks(true);
}

AppDelegate::~AppDelegate()
{
    delete m_trayMenu.data();
    delete m_mainWindow.data();
}

void AppDelegate::applicationDidFinishLaunching()
{
    launch(nullptr, {});
}

void AppDelegate::applicationDidFinishLaunchingToLock(const LockRequest& request, LockDone done)
{
    launch(&request, std::move(done));
}

void AppDelegate::launch(const LockRequest* lockAtOnce, LockDone done)
{
    // The crash reporter sends what it finds at once: on the first launch only once the
    // user has answered the question, as nothing goes out before that.
    const bool answeredBefore = m_displayMode->onboarded();
    if (answeredBefore)
        installCrashReporter();
    buildMainWindow();
    m_controller.setOnUnlock([self = QPointer<AppDelegate>(this)] {
        if (self)
            self->onUnlock();
    });
    m_displayMode->placeAtLaunch(!lockAtOnce);
    if (lockAtOnce) {
        lockRequested(*lockAtOnce, [self = QPointer<AppDelegate>(this), done = std::move(done)](LockOutcome outcome) {
            // Not locked, the window shows where it would have at launch: in the taskbar.
            if (self && outcome != LockOutcome::Locked && !DisplayModeController::menuBarMode(self->m_services.defaults))
                self->showMainWindow();
            done(outcome);
        });
    } else {
        // The server is first asked only once the user has answered.
        m_displayMode->showOnboardingIfNeeded();
        if (!answeredBefore)
            installCrashReporter();
    }
    // A conversation that was open at the last check-in shows before the next one.
    m_conversation->refreshBadges();
    m_checkIns->start();
    m_updater->setUpdateCheckInterval(kUpdateCheckIntervalSeconds);
    m_updater->holdBackgroundChecks(false);
}

void AppDelegate::installCrashReporter()
{
    if (m_services.installCrashReporter)
        m_services.installCrashReporter();
}

void AppDelegate::buildMainWindow()
{
    // Half on, background checks would run behind the settings' box, which shows off: what
    // the box shows is what happens, so automatic checks stay off until the user ticks it.
    // At launch, not when the settings are first shown, which may be never.
    if (m_updater->automaticallyChecksForUpdates() && !m_updater->automaticallyDownloadsUpdates())
        m_updater->setAutomaticallyChecksForUpdates(false);
    m_menu = new MainMenu({.checkForUpdates = [this] { m_updater->checkForUpdates(); },
                           .reportProblem = [this] { reportProblemPressed(); },
                           .showMessages = [this] { showMessages(); },
                           .closeOrBack = [this] { closeOrBack(); },
                           .quit = [this] { quit(); }});
    auto* home = new HomeView(int(holdDuration(m_services.defaults)));
    const auto makeSettings = [this, home] {
        auto* settings = new SettingsView({.defaults = m_services.defaults,
                                           .updater = *m_updater,
                                           .loginItem = m_services.loginItem,
                                           .log = m_services.log,
                                           .openUrl = m_services.openUrl},
                                          DisplayModeController::menuBarMode(m_services.defaults));
        connect(settings, &SettingsView::backRequested, this, &AppDelegate::showMain);
        connect(settings, &SettingsView::holdSecondsChanged, home, &HomeView::setHoldSeconds);
        connect(settings, &SettingsView::menuBarModeToggled, this, &AppDelegate::toggleMenuBarMode);
        connect(settings, &SettingsView::checkForUpdatesRequested, m_updater.get(),
                &UpdateController::checkForUpdates);
        connect(settings, &SettingsView::reportProblemRequested, this, &AppDelegate::reportProblemPressed);
        return settings;
    };
    m_mainWindow = new MainWindow(home, makeSettings, m_menu);
    connect(home, &HomeView::lockPressed, this, &AppDelegate::lockPressed);
    connect(home, &HomeView::showSettings, this, &AppDelegate::showSettings);
    connect(home, &HomeView::showMessages, this, &AppDelegate::showMessages);
    m_displayMode->setWindow(m_mainWindow);
    m_conversation->showIn(m_mainWindow, m_menu);
}

TrayMenu* AppDelegate::buildTrayMenu()
{
    auto* menu = new TrayMenu({.lock = [this] { lockPressed(); },
                               .open = [this] { showMainWindow(); },
                               .showMessages = [this] { showMessages(); },
                               .checkForUpdates = [this] { m_updater->checkForUpdates(); },
                               .reportProblem = [this] { reportProblemPressed(); },
                               .quit = [this] { quit(); }});
    // Opening the menu checks in if stale and brings its contents up to date.
    connect(menu, &QMenu::aboutToShow, this, [this] {
        syncIfStale(CheckInSchedule::kOnShowAfter);
        refreshMessageBadges();
    });
    if (m_trayMenu)
        m_trayMenu->deleteLater();
    m_trayMenu = menu;
    m_conversation->setTrayMenu(menu);
    return menu;
}

void AppDelegate::showOnboardingIfNeeded()
{
    m_displayMode->showOnboardingIfNeeded();
}

void AppDelegate::applyDisplayMode()
{
    m_displayMode->apply();
}

void AppDelegate::toggleMenuBarMode(bool on)
{
    m_displayMode->setMenuBarMode(on);
}

void AppDelegate::onUnlock()
{
    if (m_displayMode->showsWindowAfterUnlock(m_lockCommand->restoreWindowAfterUnlock()))
        showMainWindow();
    // A message that came during the lock shows now, even with the window in the tray.
    m_conversation->presentBanner();
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWindow)
        return;
    m_displayMode->bringWindowForward();
    m_conversation->refreshBadges();
    m_conversation->presentBanner();
    syncIfStale(CheckInSchedule::kOnShowAfter);
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (m_displayMode->showsWindowOnReopen(hasVisibleWindows))
        showMainWindow();
    return true;
}

void AppDelegate::lockPressed()
{
    m_lockCommand->lockPressed();
}

void AppDelegate::lockRequested(const LockRequest& request, LockDone done)
{
    m_lockCommand->lockRequested(request, std::move(done));
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
    if (!m_mainWindow)
        return;
    const int seconds = int(holdDuration(m_services.defaults));
    m_mainWindow->homeView()->setHoldSeconds(seconds);
    if (SettingsView* settings = m_mainWindow->madeSettingsView())
        settings->showHoldSeconds(seconds);
}

void AppDelegate::refreshMessageBadges()
{
    m_conversation->refreshBadges();
}

void AppDelegate::presentMessageBanner()
{
    m_conversation->presentBanner();
}

void AppDelegate::dismissMessageBanner()
{
    m_conversation->dismissBanner();
}

void AppDelegate::showMessages()
{
    m_conversation->showMessages();
}

void AppDelegate::sendReply()
{
    m_conversation->sendReply();
}

void AppDelegate::reportProblemPressed()
{
    m_conversation->reportProblem();
}

void AppDelegate::syncWithServer()
{
    m_checkIns->checkInNow();
}

void AppDelegate::syncIfStale(std::chrono::seconds maxAge)
{
    m_checkIns->checkInIfOlderThan(maxAge);
}

void AppDelegate::checkInFinished()
{
    // The reply may have changed the hold time or opened or closed the conversation.
    showHoldDuration();
    m_conversation->checkInFinished();
}

} // namespace ow
