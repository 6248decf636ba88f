#include "FileUserDefaults.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>
#include <utility>

#include <cerrno>
#include <sys/stat.h>

namespace ow {

namespace {

// Every JSON object in the file is one of these one-key tags, so a date can never be
// mistaken for a dictionary that happens to hold a "date" key.
const QString kDateTag = QStringLiteral("date");
const QString kDictTag = QStringLiteral("dict");

std::optional<QJsonValue> encode(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QJsonValue(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return QJsonValue(value.toLongLong());
    case QMetaType::QString:
        return QJsonValue(value.toString());
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        const QString text = date.toUTC().toString(Qt::ISODateWithMs);
        // Refuse what would not read back as the same instant (invalid, or beyond ISO years).
        const QDateTime back = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!date.isValid() || !back.isValid() || back != date)
            return std::nullopt;
        return QJsonObject{{kDateTag, text}};
    }
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& element : value.toList()) {
            const std::optional<QJsonValue> json = encode(element);
            if (!json)
                return std::nullopt;
            array.append(*json);
        }
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject dict;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const std::optional<QJsonValue> json = encode(it.value());
            if (!json)
                return std::nullopt;
            dict.insert(it.key(), *json);
        }
        return QJsonObject{{kDictTag, dict}};
    }
    default:
        return std::nullopt;
    }
}

// Unknown shapes give nullopt; inside an array or dictionary they are left out and the
// rest is kept.
std::optional<QVariant> decode(const QJsonValue& json)
{
    switch (json.type()) {
    case QJsonValue::Bool:
        return QVariant(json.toBool());
    case QJsonValue::Double: {
        // toInteger() answers its default for a fractional or out-of-range number; two
        // different defaults tell that apart from a stored value equal to either.
        const qint64 integer = json.toInteger(0);
        if (integer != json.toInteger(1))
            return std::nullopt;
        return QVariant(integer);
    }
    case QJsonValue::String:
        return QVariant(json.toString());
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& element : json.toArray()) {
            if (std::optional<QVariant> value = decode(element))
                list.append(*value);
        }
        return QVariant(list);
    }
    case QJsonValue::Object: {
        const QJsonObject object = json.toObject();
        if (object.size() != 1)
            return std::nullopt;
        const QJsonValue date = object.value(kDateTag);
        if (date.isString()) {
            const QDateTime parsed = QDateTime::fromString(date.toString(), Qt::ISODateWithMs);
            if (!parsed.isValid())
                return std::nullopt;
            return QVariant(parsed.toUTC());
        }
        const QJsonValue dict = object.value(kDictTag);
        if (dict.isObject()) {
            QVariantMap map;
            const QJsonObject entries = dict.toObject();
            for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
                if (std::optional<QVariant> value = decode(it.value()))
                    map.insert(it.key(), *value);
            }
            return QVariant(map);
        }
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// Creates the missing folders of a path, each private to the user from the start.
bool makeFolder(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (!makeFolder(info.absolutePath()))
        return false;
    // Another process may create it at the same moment.
    return QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || QFileInfo(path).isDir();
}

} // namespace

FileUserDefaults::FileUserDefaults(QString filePath)
    : m_path(std::move(filePath))
{
    load();
}

QString FileUserDefaults::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/OrbinWash/defaults.json");
}

QVariant FileUserDefaults::value(const QString& key) const
{
    QJsonValue json;
    {
        QMutexLocker lock(&m_mutex);
        json = m_document.value(key);
    }
    return decode(json).value_or(QVariant());
}

void FileUserDefaults::setValue(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    const std::optional<QJsonValue> json = encode(value);
    if (!json) {
        qWarning().noquote() << "Not storing user default" << key << "- unsupported value:" << value;
        return;
    }
    QMutexLocker lock(&m_mutex);
    m_document.insert(key, *json);
    save();
}

void FileUserDefaults::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_document.remove(key);
    save();
}

void FileUserDefaults::load()
{
    if (!QFileInfo::exists(m_path))
        return;
    QFile file(m_path);
    QJsonParseError error{};
    QJsonDocument document;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            document = QJsonDocument::fromJson(bytes, &error);
    }
    if (document.isObject() && error.error == QJsonParseError::NoError) {
        m_document = document.object();
        return;
    }
    if (!moveAside()) {
        m_readOnly = true;
        qWarning().noquote() << "User defaults file" << m_path
                             << "is unreadable and cannot be moved aside; changes will not be saved until restart";
    }
}

bool FileUserDefaults::moveAside() const
{
    const QString base = m_path + QStringLiteral(".unreadable-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddTHHmmss"));
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    // rename() never replaces an existing file, so a racing writer cannot lose one.
    if (!QFile::rename(m_path, target))
        return false;
    qWarning().noquote() << "User defaults file" << m_path << "was unreadable; kept it as" << target
                         << "and started with empty defaults";
    return true;
}

// Called with m_mutex held, so the file always ends up with the latest document.
void FileUserDefaults::save()
{
    if (m_readOnly)
        return;
    QString failure;
    QSaveFile file(m_path);
    if (!makeFolder(QFileInfo(m_path).absolutePath())) {
        failure = QStringLiteral("cannot create its folder");
    } else if (!file.open(QIODevice::WriteOnly)) {
        failure = file.errorString();
    } else if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        failure = qt_error_string(errno);
        file.cancelWriting();
    } else {
        file.write(QJsonDocument(m_document).toJson(QJsonDocument::Indented));
        if (!file.commit())
            failure = file.errorString();
    }
    // One warning per run of failures, not one per change while the disk stays full.
    if (!failure.isEmpty() && !m_saveFailing)
        qWarning().noquote() << "Cannot save user defaults to" << m_path << "-" << failure;
    m_saveFailing = !failure.isEmpty();
}

} // namespace ow
