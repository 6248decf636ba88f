#include "AppDelegate.h"
#include "ClientInfo.h"
#include "CommandLine.h"
#include "CrashReporter.h"
#include "LinuxPlatform.h"
#include "SingleInstance.h"
#include "LockEngineChoice.h"
#include "MenuBarIconStyle.h"
#include "QtClock.h"
#include "QtPlatformChoice.h"
#include "UpdateController.h"
#include "X11Connection.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <optional>

namespace {

// The help page on getting the input guard ships inside the program; a browser needs it
// as a file.
QUrl inputGuardHelpPage()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/OrbinWash");
    const QString path = folder + QStringLiteral("/input-guard.html");
    QDir().mkpath(folder);
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(":/help/input-guard.html"), path))
        return {};
    return QUrl::fromLocalFile(path);
}

// Beside the binary in a build tree; the packaged helpers live in libexec, found from
// the binary's own folder.
QString helper(const QString& beside)
{
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                           + QStringLiteral(OW_INSTALLED_HELPERS) + QLatin1Char('/') + QFileInfo(beside).fileName());
}

// Hands the command over to the OrbinWash that already runs: the exit status, or none
// when none answered.
std::optional<int> handOver(const ow::SingleInstance& instance, const ow::CommandLine& commandLine)
{
    if (!commandLine.locks())
        return instance.notifyRunning() ? std::optional(0) : std::nullopt;
    const std::optional<ow::LockOutcome> outcome = instance.askToLock(commandLine.lockRequest());
    return outcome ? std::optional(ow::CommandLine::report(*outcome)) : std::nullopt;
}

bool hasVisibleWindows()
{
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // Help, the version, a mistake and a hand-over need no display: they are done before
    // the application connects to one.
    std::optional<ow::CommandLine> commandLine;
    {
        QCoreApplication early(argc, argv);
        commandLine.emplace(QCoreApplication::arguments());
        if (const std::optional<int> status = commandLine->answerAlone())
            return *status;
        if (const std::optional<int> status
            = handOver(ow::SingleInstance(ow::SingleInstance::defaultName(), ow::SingleInstance::defaultFolder()),
                       *commandLine))
            return *status;
    }

    // Through the environment, as Qt reads it, but only for this process: a browser or
    // helper started later chooses its own platform.
    const QByteArray qtPlatform = ow::QtPlatformChoice::forThisProcess();
    if (!qtPlatform.isEmpty())
        qputenv("QT_QPA_PLATFORM", qtPlatform);
    QApplication app(argc, argv);
    if (!qtPlatform.isEmpty())
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("OrbinWash"));
    QApplication::setApplicationDisplayName(QStringLiteral("OrbinWash"));
    QApplication::setDesktopFileName(QStringLiteral("orbinwash"));
    // Closing the main window never quits: only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);
    if (ow::MenuBarIconStyle::suits(QApplication::style()->name()))
        QApplication::setStyle(new ow::MenuBarIconStyle);

    // Claimed before the platform exists, whose services a second launch must not start:
    // the listening gets a clock of its own.
    ow::QtClock instanceClock;
    ow::SingleInstance instance(ow::SingleInstance::defaultName(), ow::SingleInstance::defaultFolder());
    if (!instance.claim(instanceClock)) {
        // Another one started meanwhile, or runs without listening.
        const std::optional<int> status = handOver(instance, *commandLine);
        return status ? *status : commandLine->locks() ? ow::CommandLine::report(ow::LockOutcome::NoAnswer) : 0;
    }

    ow::LinuxPlatform platform({.watchdogHelper = helper(ow::ProcessLockWatchdog::besideApplication()),
                                .watchdogRecord = ow::CrashReporter::defaultPendingPath(),
                                .helpPage = inputGuardHelpPage,
                                .fetchHelper = helper(ow::ProcessHttpClient::besideApplication()),
                                .userAgent = QStringLiteral("OrbinWash/%1").arg(ow::appVersion()).toUtf8()});
    ow::AppDelegate::Services services = ow::AppDelegate::Services::of(platform);
    services.installCrashReporter = [&platform] { ow::CrashReporter::install(platform); };
    auto engine = std::make_unique<ow::LockEngineChoice>(platform, [] { return ow::X11Connection::open() != nullptr; });
    ow::AppDelegate delegate(services, std::move(engine),
                             std::make_unique<ow::UpdateController>(platform.clock(), platform.http()));
    QObject::connect(&instance, &ow::SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(hasVisibleWindows()); });
    instance.setLockHandler([&delegate](const ow::LockRequest& request, ow::LockDone answer) {
        delegate.lockRequested(request, std::move(answer));
    });
    if (commandLine->locks()) {
        QTimer::singleShot(0, &delegate, [&delegate, request = commandLine->lockRequest()] {
            delegate.applicationDidFinishLaunchingToLock(request, &ow::CommandLine::report);
        });
    } else {
        QTimer::singleShot(0, &delegate, &ow::AppDelegate::applicationDidFinishLaunching);
    }
    return QApplication::exec();
}
