// Pictures for people to look at, taken on a private Xvfb with a window manager:
//   screenshots <folder>
// overlay-idle.png and overlay-holding.png: the lock overlay, idle and with the unlock
// keys held for 60 % of the hold time; main-window.png and lock-started.png: OrbinWash
// itself, as started by a user, before and after pressing Return; tray-icon.png,
// tray-icon-message.png and tray-menu.png: the tray icon in Debian's trayer, plain, with
// the dot of an unread message, and with its menu open; settings.png: the settings page.
#include "AppDelegate.h"
#include "FakePlatform.h"
#include "LockController.h"
#include "MainWindow.h"
#include "ModifierFlags.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "UpdateController.h"
#include "XTestInput.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace ow;
using namespace std::chrono_literals;

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        settle(20);
    }
    return true;
}

// The whole screen, or only area of it, enlarged by zoom with its pixels kept sharp.
bool shoot(const QString& path, const QRect& area = {}, int zoom = 1)
{
    QPixmap shot = area.isEmpty()
        ? QGuiApplication::primaryScreen()->grabWindow(0)
        : QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (zoom > 1)
        shot = shot.scaled(shot.size() * zoom, Qt::KeepAspectRatio, Qt::FastTransformation);
    if (shot.isNull() || !shot.save(path))
        return false;
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

// The companion service as the pictures need it: the check-in's reply carrying message,
// without a network.
QByteArray conversation(const QByteArray& checkIn, const QString& message)
{
    const QJsonObject reply{
        {QStringLiteral("n"), QJsonDocument::fromJson(checkIn).object().value(QStringLiteral("n"))},
        {QStringLiteral("ts"), QDateTime::currentSecsSinceEpoch()},
        {QStringLiteral("mid"), message.isEmpty() ? 0 : 1},
        {QStringLiteral("msg"), message},
        {QStringLiteral("tk"), message.isEmpty() ? QStringLiteral("none") : QStringLiteral("open")},
    };
    return QJsonDocument(reply).toJson();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    test::XvfbServer xvfb;
    // Without a session bus Qt's tray icons embed in the X11 tray started below, even
    // when the desktop this runs from has a tray of its own on D-Bus.
    if (!xvfb.becomeSessionDisplay())
        return 1;
    QApplication app(argc, argv);
    QDir().mkpath(folder);

    // The real overlay; input and time are simulated so the picture is the same every run.
    FakePlatform fakes;
    FakeClock& clock = fakes.clock();
    QtScreenList screens;
    LockController controller(std::make_unique<TapLockEngine>(fakes),
                              {clock, fakes.defaults(), fakes.cursor(), fakes.displaySleep(), screens,
                               fakes.stacking(), fakes.blitter(), fakes.watchdog()});
    if (!controller.lock())
        return 1;
    settle(500);
    if (!shoot(folder + QStringLiteral("/overlay-idle.png")))
        return 1;

    fakes.grab->report(ModifierFlags::LeftCommand | ModifierFlags::RightCommand | ModifierFlags::Command);
    clock.runPosted();
    clock.advance(1800ms); // 60 % of the default 3 seconds
    settle(500);           // the hint fades in
    if (!shoot(folder + QStringLiteral("/overlay-holding.png")))
        return 1;
    controller.unlock();
    settle(200);

    // The application as a user starts it, with a fresh home.
    if (!xvfb.startWindowManager())
        return 1;
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(variable), home.path());
    // The first launch's question was answered: the window, in the taskbar.
    QDir(home.path()).mkpath(QStringLiteral("OrbinWash"));
    QFile answered(home.filePath(QStringLiteral("OrbinWash/defaults.json")));
    if (!answered.open(QIODevice::WriteOnly)
        || answered.write(QJsonDocument(QJsonObject{{QStringLiteral("OWOnboarded"), true}}).toJson()) < 0)
        return 1;
    answered.close();
    QProcess orbinwash;
    orbinwash.setProcessEnvironment(environment);
    orbinwash.start(QStringLiteral(ORBINWASH_BIN), {});
    test::XTestInput input(xvfb.display());
    unsigned long window = 0;
    if (!waitFor([&] { return (window = input.findViewableWindow(QStringLiteral("OrbinWash"))) != 0; }, 10000))
        return 1;
    settle(800);
    input.focus(window);
    if (!shoot(folder + QStringLiteral("/main-window.png")))
        return 1;
    input.tap(input.keycode("Return"));
    settle(800);
    const bool shot = shoot(folder + QStringLiteral("/lock-started.png"));
    orbinwash.kill();
    orbinwash.waitForFinished(5000);
    if (!shot)
        return 1;

    // The tray: trayer in the top right corner and the shell in this process, in tray mode.
    QApplication::setApplicationDisplayName(QStringLiteral("OrbinWash"));
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                            QStringLiteral("--align"), QStringLiteral("right"),
                                            QStringLiteral("--widthtype"), QStringLiteral("request"),
                                            QStringLiteral("--height"), QStringLiteral("32")});
    if (!trayer.waitForStarted(5000) || !waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000)) {
        std::fprintf(stderr, "trayer did not start: scripts/install-deps.sh installs it\n");
        return 1;
    }
    // From here on virtual time keeps up with the real one.
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [&clock] { clock.advance(10ms); });
    pump.start(10);
    fakes.defaults().setValue(QStringLiteral("OWMenuBarMode"), true);
    fakes.defaults().setValue(QStringLiteral("OWOnboarded"), true);
    // Every check-in is answered at once; the update feed is never reached.
    QString message;
    int checkIns = 0;
    fakes.http().setHandler([&message, &checkIns](const FakeHttpClient::Request& request) {
        if (request.kind != FakeHttpClient::Kind::Post)
            return FakeHttpClient::Answer{0};
        ++checkIns;
        return FakeHttpClient::Answer{200, conversation(request.body, message)};
    });
    AppDelegate::Services services = AppDelegate::Services::of(fakes);
    services.openUrl = [](const QUrl&) { return true; };
    UpdateController::Setup updates;
    updates.settingsPath = home.filePath(QStringLiteral("updates.ini"));
    AppDelegate delegate(services, std::make_unique<TapLockEngine>(fakes),
                         std::make_unique<UpdateController>(clock, fakes.http(), updates));
    delegate.applicationDidFinishLaunching();

    const qint64 self = QCoreApplication::applicationPid();
    const auto iconPlace = [&] { return input.rootGeometry(input.findEmbeddedWindow(self, trayer.processId())); };
    if (!waitFor([&] { return !iconPlace().isEmpty(); }, 10000) || !waitFor([&] { return checkIns == 1; }, 5000))
        return 1;
    settle(500);
    // The icon and a little of the tray around it, three times as large: an icon is small.
    QRect icon = iconPlace();
    const QRect corner = icon.adjusted(-16, -icon.top(), 16, 8) & QGuiApplication::primaryScreen()->geometry();
    if (!shoot(folder + QStringLiteral("/tray-icon.png"), corner, 3))
        return 1;

    message = QStringLiteral("Thanks for your report! It is fixed in the next version.");
    delegate.syncWithServer();
    if (!waitFor([&] { return checkIns == 2; }, 5000))
        return 1;
    settle(500);
    if (!shoot(folder + QStringLiteral("/tray-icon-message.png"), corner, 3))
        return 1;

    icon = iconPlace();
    input.motion(icon.center().x(), icon.center().y());
    input.click(1);
    const QPointer<QMenu> menu = delegate.findChild<QSystemTrayIcon*>()->contextMenu();
    if (!waitFor([&] { return menu && menu->isVisible(); }, 5000))
        return 1;
    settle(500);
    const QRect menuArea = menu->frameGeometry().united(icon).adjusted(-24, 0, 16, 16)
        & QGuiApplication::primaryScreen()->geometry();
    if (!shoot(folder + QStringLiteral("/tray-menu.png"), menuArea))
        return 1;
    input.tap(input.keycode("Escape"));
    settle(300);

    // The settings page, in the window the tray icon opens.
    delegate.showMainWindow();
    delegate.showSettings();
    const auto windowShown = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget* shown) {
            return qobject_cast<const MainWindow*>(shown) && shown->isVisible();
        });
    };
    if (!waitFor(windowShown, 5000))
        return 1;
    settle(800);
    const bool settingsShot = shoot(folder + QStringLiteral("/settings.png"));
    trayer.kill();
    trayer.waitForFinished(5000);
    return settingsShot ? 0 : 1;
}
