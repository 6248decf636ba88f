#pragma once

#include "CrashText.h"

#include <QString>
#include <QUrl>

#include <chrono>

namespace ow {

class FatalErrorHooks;
class HttpClient;
class Platform;
class UserDefaults;

// Sends what went wrong to the crash service: the record the fatal error hooks left at
// the last crash, the system's crash reports about this program, and errors the program
// reports itself. Requests are fired once and forgotten: never retried, never shown,
// never logged. Call from the main thread, except reportError.
class CrashReporter {
public:
    struct Settings {
        // The defaults for the running application.
        Settings(UserDefaults& userDefaults, HttpClient& httpClient, FatalErrorHooks& fatalErrorHooks);

        UserDefaults& defaults;
        // Lives on the main thread, as long as the process sends reports.
        HttpClient& http;
        FatalErrorHooks& hooks;
        QUrl endpoint;              // crashEndpoint()
        QString pendingPath;        // defaultPendingPath()
        QString systemCrashFolder;  // /var/crash
        QString executablePath;     // QCoreApplication::applicationFilePath()
    };

    CrashReporter() = delete;

    // Sends the pending record and the new system reports, then installs the fatal error
    // hooks so that the next crash leaves a record.
    static void install(Platform& platform);
    static void install(const Settings& settings);

    // The record the hooks left, removed before it is sent so that it is sent at most once:
    // its headline as the message, its stack as the stack, as kind "crash".
    static void sendPendingCrash();
    // Apport's reports about this executable, and reports named "OrbinWash…" or
    // "Orbin Wash…" ending in ".ips" or ".crash", modified after the last scan and not
    // after now. The folder is shared by all users: only the user's own files are read.
    static void sendSystemCrashReports();
    // One POST of {"d", "kind", "message", "stack", "v", "os"} to the endpoint.
    // Does nothing before install.
    static void send(const QString& kind, const QString& message, const QString& stack);
    // From any thread: sends kind "error" with the caller's stack from the main thread.
    static void reportError(const QString& message);

    // $XDG_DATA_HOME/OrbinWash/pending-crash.txt; creates the folder.
    static QString defaultPendingPath();

    static constexpr int ErrorStackFrames = 15;
    static constexpr std::chrono::seconds RequestTimeout{8};
    static constexpr qsizetype SystemReportChars = CrashText::kSystemReportChars;
};

namespace DefaultsKey {
inline constexpr char LastCrashScan[] = "OWLastCrashScan";
} // namespace DefaultsKey

} // namespace ow
