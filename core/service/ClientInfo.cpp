#include "ClientInfo.h"

#include "UserDefaults.h"

#include <QFile>
#include <QHash>
#include <QSysInfo>

#include <optional>

namespace ow {

namespace {

// A value of os-release: shell-like, unquoted or in single or double quotes, with
// backslash escapes inside double quotes.
QString unquote(const QString& raw)
{
    const QString value = raw.trimmed();
    if (value.size() < 2 || value.front() != value.back())
        return value;
    if (value.front() == QLatin1Char('\''))
        return value.mid(1, value.size() - 2);
    if (value.front() != QLatin1Char('"'))
        return value;
    QString text;
    const QString inner = value.mid(1, value.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        text.append(inner[i]);
    }
    return text;
}

// "NAME VERSION_ID" from an os-release file, or nothing when the file cannot be read.
std::optional<QString> osReleaseName(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QHash<QString, QString> fields;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        fields.insert(line.left(equals), unquote(line.mid(equals + 1)));
    }
    // os-release(5): NAME defaults to "Linux".
    const QString name = fields.value(QStringLiteral("NAME"), QStringLiteral("Linux"));
    const QString version = fields.value(QStringLiteral("VERSION_ID"));
    return version.isEmpty() ? name : name + QLatin1Char(' ') + version;
}

QString readOsString()
{
    for (const QString& path : {QStringLiteral("/etc/os-release"), QStringLiteral("/usr/lib/os-release")}) {
        if (const std::optional<QString> name = osReleaseName(path))
            return *name;
    }
    return QSysInfo::prettyProductName();
}

} // namespace

QString appVersion()
{
    return QStringLiteral(OW_VERSION);
}

QString osString()
{
    // The system does not change while the application runs.
    static const QString os = readOsString();
    return os;
}

QString deviceIdOrUnknown(const UserDefaults& defaults)
{
    const QString id = defaults.string(QLatin1String(DefaultsKey::DeviceId));
    return id.isEmpty() ? QStringLiteral("?") : id;
}

} // namespace ow
