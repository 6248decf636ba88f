#include "AppDelegate.h"

#include "HoldDuration.h"
#include "HomeView.h"
#include "LockCommand.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "SettingsView.h"
#include "TaskbarPresence.h"
#include "UpdateController.h"
#include "UserDefaults.h"

#include <QApplication>

namespace ow {

namespace {
constexpr char kMenuBarMode[] = "OWMenuBarMode";
constexpr int kUpdateCheckIntervalSeconds = 3600;
} // namespace

AppDelegate::AppDelegate(Services services, std::unique_ptr<LockEngine> engine,
                         std::unique_ptr<UpdateController> updater)
    : m_services(std::move(services))
    , m_controller(std::move(engine), m_services.lock)
    , m_updater(std::move(updater))
    , m_lockCommand(std::make_unique<LockCommand>(m_controller, m_services.permission,
                                                  [this] { return static_cast<QWidget*>(m_mainWindow.data()); }))
{
}

AppDelegate::~AppDelegate()
{
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

bool AppDelegate::menuBarMode(const UserDefaults& defaults)
{
    return defaults.boolean(QLatin1String(kMenuBarMode));
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_services.installCrashReporter)
        m_services.installCrashReporter();
    m_menu = new MainMenu({[this] { m_updater->checkForUpdates(); }, [this] { closeOrBack(); }, [this] { quit(); }});
    buildMainWindow();
    m_controller.setOnUnlock([self = QPointer<AppDelegate>(this)] {
        if (self)
            self->onUnlock();
    });
    if (!menuBarMode(m_services.defaults) && m_mainWindow)
        m_mainWindow->activateWindow();
    m_updater->setUpdateCheckInterval(kUpdateCheckIntervalSeconds);
}

void AppDelegate::buildMainWindow()
{
    auto* home = new HomeView(int(holdDuration(m_services.defaults)));
    auto* settings = new SettingsView;
    m_mainWindow = new MainWindow(home, settings, m_menu);
    connect(home, &HomeView::lockPressed, this, &AppDelegate::lockPressed);
    connect(home, &HomeView::showSettings, this, &AppDelegate::showSettings);
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
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWindow)
        return;
    showKeptOutOfTaskbar();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
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

} // namespace ow
