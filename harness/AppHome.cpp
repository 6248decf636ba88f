#include "AppHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace ow::test {

AppHome::AppHome(const QJsonObject& defaults)
{
    if (!m_dir.isValid())
        return;
    const QDir home(m_dir.path());
    // Qt only trusts a runtime folder that is its owner's alone.
    if (!home.mkpath(QStringLiteral("run")) || !home.mkpath(QStringLiteral("config/OrbinWash"))
        || !QFile::setPermissions(home.filePath(QStringLiteral("run")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return;
    QFile file(home.filePath(QStringLiteral("config/OrbinWash/defaults.json")));
    m_valid = file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(defaults).toJson()) > 0;
}

QProcessEnvironment AppHome::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    return environment;
}

} // namespace ow::test
