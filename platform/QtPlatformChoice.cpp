#include "QtPlatformChoice.h"

#include <QDir>
#include <QLibraryInfo>

namespace ow {

QByteArray QtPlatformChoice::choose(const SessionEnvironment& environment, const QByteArray& named,
                                    bool waylandPluginInstalled)
{
    if (!named.isEmpty() || !SessionKind::of(environment).wayland)
        return {};
    // Xwayland also when the compositor cannot be reached, say with a stale WAYLAND_DISPLAY:
    // Qt would otherwise end the process. The session stays a Wayland session either way.
    return waylandPluginInstalled ? QByteArrayLiteral("wayland;xcb") : QByteArrayLiteral("xcb");
}

QByteArray QtPlatformChoice::forThisProcess()
{
    return choose(SessionEnvironment::current(), qgetenv("QT_QPA_PLATFORM"), waylandPluginInstalled());
}

bool QtPlatformChoice::waylandPluginInstalled()
{
    // Where Qt itself looks for platform plugins, without an application object yet.
    QStringList folders = qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    return waylandPluginIn(folders);
}

bool QtPlatformChoice::waylandPluginIn(const QStringList& pluginFolders)
{
    // Matched by hand: a wildcard name filter would load QRegularExpression's PCRE2 at launch.
    for (const QString& folder : pluginFolders) {
        const QStringList files = QDir(folder + QStringLiteral("/platforms")).entryList(QDir::Files);
        for (const QString& file : files) {
            if (file.startsWith(QLatin1String("libqwayland")) && file.endsWith(QLatin1String(".so")))
                return true;
        }
    }
    return false;
}

} // namespace ow
