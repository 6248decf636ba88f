// Locks input at once with the real engine and services, and keeps the lock until
// killed or until it ends: the process the kill and watchdog tests kill. Prints "locked"
// once the lock has begun.
//   --watchdog <helper> <record>   watched by that helper, which writes its record there
//   --safety-ms <ms>               a safety deadline that passes within a test
//   --block-after-ms <ms>          then hangs its main loop for good
#include "LinuxPlatform.h"
#include "LockController.h"
#include "TapLockEngine.h"

#include <QApplication>
#include <QTemporaryDir>
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

    const QTemporaryDir settings;
    ow::LinuxPlatform platform({.defaultsPath = settings.filePath(QStringLiteral("defaults.json")),
                                .watchdogHelper = value("--watchdog"),
                                .watchdogRecord = value("--watchdog", 2)});
    ow::LockController controller(
        std::make_unique<ow::TapLockEngine>(platform), ow::LockController::Services::of(platform), nullptr,
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
