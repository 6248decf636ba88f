#include "CrashReporter.h"

#include "ClientInfo.h"
#include "Endpoints.h"
#include "FatalErrorHooks.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

#include <unistd.h>

namespace ow {

namespace {

constexpr int kTransferTimeoutMs = 8000;
// Far more than a record or the part of a report that is sent; a huge file (apport's
// reports carry a core dump) is never read whole.
constexpr qint64 kReadLimit = 1024 * 1024;

// Touched on the main thread only.
std::optional<CrashReporter::Settings>& installed()
{
    static std::optional<CrashReporter::Settings> settings;
    return settings;
}

// Owned by the application object, so it goes with it rather than after it.
QNetworkAccessManager* manager()
{
    static QPointer<QNetworkAccessManager> instance;
    if (!instance)
        instance = new QNetworkAccessManager(QCoreApplication::instance());
    return instance;
}

// The text of at most kReadLimit bytes of the file, or nothing if it cannot be read.
std::optional<QString> readHead(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
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

CrashReporter::Settings::Settings(UserDefaults& userDefaults)
    : defaults(userDefaults)
    , endpoint(crashEndpoint())
    , pendingPath(defaultPendingPath())
    , systemCrashFolder(QStringLiteral("/var/crash"))
    , executablePath(QCoreApplication::applicationFilePath())
{
}

void CrashReporter::install(UserDefaults& defaults)
{
    install(Settings(defaults));
}

void CrashReporter::install(const Settings& settings)
{
    installed().emplace(settings);
    sendPendingCrash();
    sendSystemCrashReports();
    if (settings.installHooks)
        FatalErrorHooks::install(settings.pendingPath);
}

void CrashReporter::sendPendingCrash()
{
    if (!installed())
        return;
    const QString path = installed()->pendingPath;
    const std::optional<QString> record = readHead(path);
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

    QDateTime newest = mark;
    // Regular files only: reading a FIFO would block.
    for (const QFileInfo& info : folder.entryInfoList(QDir::Files, QDir::Name)) {
        if (!isOwnReport(info.fileName(), apportName))
            continue;
        const QDateTime modified = info.lastModified();
        if (!(modified > mark))
            continue;
        const std::optional<QString> report = readHead(info.filePath());
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
    QNetworkRequest request(settings.endpoint);
    // Qt would otherwise warn and send application/x-www-form-urlencoded.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply* reply = manager()->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void CrashReporter::reportError(const QString& message)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    const QString stack = FatalErrorHooks::currentStack(ErrorStackFrames);
    // The network manager lives on the main thread.
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
