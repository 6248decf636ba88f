#include "ShellFakes.h"

#include "FakePowerKeyInhibitor.h"
#include "TapLockEngine.h"

namespace ow::test {

AppDelegate::Services ShellFakes::services(HttpClient& http)
{
    return {.defaults = defaults,
            .lock = {clock, defaults, cursor, sleep, screens, stacking, watchdog},
            .permission = permission,
            .taskbar = taskbar,
            .launcher = launcher,
            .http = http,
            .loginItem = loginItem,
            .log = log,
            .installCrashReporter = {}};
}

std::unique_ptr<LockEngine> ShellFakes::lockEngine()
{
    auto fakeGrab = std::make_unique<FakeInputGrab>();
    grab = fakeGrab.get();
    return std::make_unique<TapLockEngine>(std::move(fakeGrab), std::make_unique<FakePowerKeyInhibitor>(), clock);
}

std::unique_ptr<UpdateController> ShellFakes::updates()
{
    return offlineUpdates(clock, dir.filePath(QStringLiteral("updates.ini")), &feedRequests);
}

std::unique_ptr<UpdateController> ShellFakes::offlineUpdates(Clock& clock, const QString& settingsPath,
                                                             QNetworkAccessManager* network)
{
    UpdateController::Setup setup;
    setup.settingsPath = settingsPath;
    setup.network = network;
    setup.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/none.xml")); // the discard port: refused at once
    setup.openUrl = [](const QUrl&) { return true; };
    return std::make_unique<UpdateController>(clock, setup);
}

} // namespace ow::test
