#include "CrashReporter.h"

#include "ClientInfo.h"
#include "Endpoints.h"
#include "FatalErrorHooks.h"
#include "HttpClient.h"
#include "Platform.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ow {

namespace {

// Far more than a record or the part of a report that is sent; a huge file (apport's
// reports carry a core dump) is never read whole.
constexpr qint64 kReadLimit = 1024 * 1024;

// Touched on the main thread only.
std::optional<CrashReporter::Settings>& installed()
{
    static std::optional<CrashReporter::Settings> settings;
    return settings;
}

bool ownedByUser(const struct stat& info)
{
    return info.st_uid == ::getuid();
}

// The text of at most kReadLimit bytes of the file, or nothing if it cannot be read or
// is not the user's own. Crash folders are shared: another user could leave a report
// there, or a link named like one that points at one of the user's private files, so
// the entry and what it leads to must both belong to the user. A FIFO is not waited on.
std::optional<QString> readOwnFile(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat entry {};
    if (::lstat(encoded.constData(), &entry) != 0 || !ownedByUser(entry))
        return std::nullopt;
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    struct stat target {};
    if (::fstat(fd, &target) != 0 || !S_ISREG(target.st_mode) || !ownedByUser(target)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kReadLimit);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

bool isOwnReport(const QString& name, const QString& apportName)
{
    if (name == apportName)
        return true;
    const bool ownPrefix = name.startsWith(QLatin1String("OrbinWash")) || name.startsWith(QLatin1String("Orbin Wash"));
    return ownPrefix && (name.endsWith(QLatin1String(".ips")) || name.endsWith(QLatin1String(".crash")));
}

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

} // namespace

CrashReporter::Settings::Settings(UserDefaults& userDefaults, HttpClient& httpClient, FatalErrorHooks& fatalErrorHooks)
    : defaults(userDefaults)
    , http(httpClient)
    , hooks(fatalErrorHooks)
    , endpoint(crashEndpoint())
    , pendingPath(defaultPendingPath())
    , systemCrashFolder(QStringLiteral("/var/crash"))
    , executablePath(QCoreApplication::applicationFilePath())
{
}

void CrashReporter::install(Platform& platform)
{
    install(Settings(platform.defaults(), platform.http(), platform.fatalErrorHooks()));
}

void CrashReporter::install(const Settings& settings)
{
    installed().emplace(settings);
    sendPendingCrash();
    sendSystemCrashReports();
    settings.hooks.install(settings.pendingPath);
}

void CrashReporter::sendPendingCrash()
{
    if (!installed())
        return;
    const QString path = installed()->pendingPath;
    const std::optional<QString> record = readOwnFile(path);
    // A record that cannot be removed is never sent: it would be sent again at every launch.
    if (!record || !QFile::remove(path))
        return;
    const CrashText crash = CrashText::fromPendingRecord(*record);
    send(QStringLiteral("crash"), crash.message, crash.stack);
}

void CrashReporter::sendSystemCrashReports()
{
    if (!installed())
        return;
    const Settings& settings = *installed();
    const QDir folder(settings.systemCrashFolder);
    if (!folder.exists() || !folder.isReadable())
        return;
    // Apport names a report after the executable's path, '/' written '_', and the user.
    const QString apportName = QString(settings.executablePath).replace(QLatin1Char('/'), QLatin1Char('_'))
        + QLatin1Char('.') + QString::number(::getuid()) + QLatin1String(".crash");
    const QString markKey = QLatin1String(DefaultsKey::LastCrashScan);
    QDateTime mark = settings.defaults.date(markKey);
    if (!mark.isValid())
        mark = distantPast();

    // A report dated ahead of the clock waits until its time has come: taken now, it
    // would carry the mark past the present and hide every report written meanwhile.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QDateTime newest = mark;
    // Regular files only: reading a FIFO would block.
    for (const QFileInfo& info : folder.entryInfoList(QDir::Files, QDir::Name)) {
        if (!isOwnReport(info.fileName(), apportName))
            continue;
        const QDateTime modified = info.lastModified();
        if (!(modified > mark) || modified > now)
            continue;
        const std::optional<QString> report = readOwnFile(info.filePath());
        // Left for a later scan, which may be able to read it.
        if (!report)
            continue;
        const CrashText crash = CrashText::fromSystemReport(*report);
        send(QStringLiteral("crash"), crash.message, crash.stack);
        newest = std::max(newest, modified);
    }
    settings.defaults.setValue(markKey, newest.toUTC());
}

void CrashReporter::send(const QString& kind, const QString& message, const QString& stack)
{
    if (!installed() || QCoreApplication::instance() == nullptr)
        return;
    const Settings& settings = *installed();
    const QJsonObject body {
        {QStringLiteral("d"), deviceIdOrUnknown(settings.defaults)},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("message"), message},
        {QStringLiteral("stack"), stack},
        {QStringLiteral("v"), appVersion()},
        {QStringLiteral("os"), osString()},
    };
    // Fired and forgotten: the answer is not read.
    settings.http.post(settings.endpoint, QJsonDocument(body).toJson(QJsonDocument::Compact), RequestTimeout,
                       QCoreApplication::instance(), [](HttpClient::Response) {});
}

void CrashReporter::reportError(const QString& message)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !installed())
        return;
    const QString stack = installed()->hooks.currentStack(ErrorStackFrames);
    // The HTTP client lives on the main thread.
    QMetaObject::invokeMethod(app, [message, stack] { send(QStringLiteral("error"), message, stack); },
                              Qt::QueuedConnection);
}

QString CrashReporter::defaultPendingPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QLatin1String("/OrbinWash");
    // Failure ignored: the hooks then simply cannot leave a record.
    QDir().mkpath(folder);
    return folder + QLatin1String("/pending-crash.txt");
}

} // namespace ow
