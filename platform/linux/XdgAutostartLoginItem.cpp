#include "XdgAutostartLoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <utility>

namespace ow {

namespace {

const QString kFileName = QStringLiteral("orbinwash.desktop");
const QString kEntryGroup = QStringLiteral("[Desktop Entry]");

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// A desktop entry's string escapes: the backslash itself, and the control characters
// a line cannot hold.
QString escapedString(const QString& text)
{
    QString escaped;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The path as one Exec argument: quoted whole, so spaces and shell characters stay in
// it; the characters quoting reserves take a backslash and "%" is doubled so it is no
// field code. String escaping comes last, as readers undo it first.
QString execArgument(const QString& path)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return escapedString(quoted);
}

QByteArray entryText(const QString& command)
{
    const QString text = kEntryGroup + u'\n'
        + QStringLiteral("Type=Application\n"
                         "Name=OrbinWash\n")
        + QStringLiteral("Exec=") + execArgument(command) + u'\n'
        + QStringLiteral("Icon=orbinwash\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n"
                         "NoDisplay=false\n");
    return text.toUtf8();
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartFolder, QString command)
    : m_folder(std::move(autostartFolder))
    , m_command(std::move(command))
{
}

QString XdgAutostartLoginItem::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart");
}

QString XdgAutostartLoginItem::defaultCommand()
{
    return QCoreApplication::applicationFilePath();
}

QString XdgAutostartLoginItem::filePath() const
{
    return m_folder + u'/' + kFileName;
}

bool XdgAutostartLoginItem::registerItem(QString* error)
{
    if (!QDir().mkpath(m_folder))
        return fail(error, QStringLiteral("Cannot create the folder %1.").arg(m_folder));
    // Written aside and renamed into place: a session starting meanwhile never reads half a file.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                | QFileDevice::ReadGroup | QFileDevice::ReadOther)
        || file.write(entryText(m_command)) < 0 || !file.commit()) {
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(filePath(), file.errorString()));
    }
    return true;
}

bool XdgAutostartLoginItem::unregisterItem(QString* error)
{
    QFile file(filePath());
    if (file.remove())
        return true;
    const QFileInfo info(filePath());
    if (!info.exists() && !info.isSymLink())
        return true;
    return fail(error, QStringLiteral("Cannot remove %1: %2").arg(filePath(), file.errorString()));
}

bool XdgAutostartLoginItem::isEnabled() const
{
    QFile file(filePath());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == kEntryGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inEntry || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        // What session managers honour to skip an entry without deleting it.
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true"))
            || (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")))
            return false;
    }
    return true;
}

} // namespace ow
