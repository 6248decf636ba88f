// Locks input at once with the real engine and services, and keeps the lock until
// killed or until it ends: the process the kill and watchdog tests kill. Prints "locked"
// once the lock has begun.
//   --watchdog <helper> <record>   watched by that helper, which writes its record there
//   --safety-ms <ms>               a safety deadline that passes within a test
//   --block-after-ms <ms>          then hangs its main loop for good
#include "LinuxDisplaySleepAssertion.h"
#include "LogindPowerKeyInhibitor.h"
#include "LockController.h"
#include "MemoryUserDefaults.h"
#include "ProcessLockWatchdog.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "X11CursorVisibility.h"
#include "X11InputGrab.h"
#include "X11WindowStacking.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QCoreApplication::arguments();
    const auto value = [&args](const char* option, int offset = 1) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        return at >= 0 && at + offset < args.size() ? args[at + offset] : QString();
    };
    const QString safetyMs = value("--safety-ms");
    const QString blockAfterMs = value("--block-after-ms");

    ow::QtClock clock;
    ow::MemoryUserDefaults defaults;
    ow::X11CursorVisibility cursor;
    ow::LinuxDisplaySleepAssertion sleep;
    ow::QtScreenList screens;
    ow::X11WindowStacking stacking;
    ow::ProcessLockWatchdog watchdog(value("--watchdog"), value("--watchdog", 2));
    ow::LockController controller(
        std::make_unique<ow::TapLockEngine>(std::make_unique<ow::X11InputGrab>(),
                                            std::make_unique<ow::LogindPowerKeyInhibitor>(), clock),
        {clock, defaults, cursor, sleep, screens, stacking, watchdog}, nullptr,
        safetyMs.isEmpty() ? std::chrono::milliseconds(ow::LockController::kSafetyTimeout)
                           : std::chrono::milliseconds(safetyMs.toLongLong()));
    controller.setOnUnlock([] { QCoreApplication::quit(); });
    if (!controller.lock())
        return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    if (!blockAfterMs.isEmpty()) {
        QTimer::singleShot(blockAfterMs.toInt(), [] {
            for (;;)
                ::pause();
        });
    }
    return QApplication::exec();
}
