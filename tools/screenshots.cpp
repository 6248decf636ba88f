// Pictures for people to look at, taken on a private Xvfb with a window manager:
//   screenshots <folder>
// overlay-idle.png and overlay-holding.png: the lock overlay, idle and with the unlock
// keys held for 60 % of the hold time; main-window.png and lock-started.png: OrbinWash
// itself, as started by a user, before and after pressing Return.
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeInputGrab.h"
#include "FakeWindowStacking.h"
#include "LockController.h"
#include "MemoryUserDefaults.h"
#include "ModifierFlags.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "XTestInput.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QScreen>
#include <QTimer>

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

bool shoot(const QString& path)
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (shot.isNull() || !shot.save(path))
        return false;
    std::printf("wrote %s\n", qPrintable(path));
    return true;
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
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "Could not start Xvfb: %s\n", qPrintable(xvfb.errorString()));
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QDir().mkpath(folder);

    // The real overlay; input and time are simulated so the picture is the same every run.
    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    FakeDisplaySleepAssertion sleep;
    QtScreenList screens;
    FakeWindowStacking stacking;
    auto grab = std::make_unique<FakeInputGrab>();
    FakeInputGrab* keys = grab.get();
    LockController controller(std::make_unique<TapLockEngine>(std::move(grab), clock),
                              {clock, defaults, cursor, sleep, screens, stacking});
    if (!controller.lock())
        return 1;
    settle(500);
    if (!shoot(folder + QStringLiteral("/overlay-idle.png")))
        return 1;

    keys->report(ModifierFlags::LeftCommand | ModifierFlags::RightCommand | ModifierFlags::Command);
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
    return shot ? 0 : 1;
}
