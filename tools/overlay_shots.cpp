// Renders the lock overlay on a private Xvfb and saves what the screen shows, idle and
// with the unlock keys held for 60 % of the hold time:
//   overlay_shots <folder>   → <folder>/overlay-idle.png, <folder>/overlay-holding.png
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
#include "XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace ow;
using namespace std::chrono_literals;

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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
        std::fprintf(stderr, "usage: overlay_shots <folder>\n");
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
    return 0;
}
