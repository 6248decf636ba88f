#include "FileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

bool refusedValue = false;

// The store warns about every unreadable file; only a refused value matters here.
void onMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QLatin1String("unsupported value")))
        refusedValue = true;
}

// The types UserDefaults promises, all the way down.
bool isSupported(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::QString:
        return true;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid();
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        return std::all_of(list.cbegin(), list.cend(), isSupported);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        return std::all_of(map.cbegin(), map.cend(), isSupported);
    }
    default:
        return false;
    }
}

bool gettersAgree(const ow::UserDefaults& store, const QString& key, const QVariant& value)
{
    const int type = value.typeId();
    return store.contains(key) == value.isValid()
        && store.boolean(key) == (type == QMetaType::Bool && value.toBool())
        && store.integer(key) == (type == QMetaType::LongLong ? value.toLongLong() : 0)
        && store.string(key) == (type == QMetaType::QString ? value.toString() : QString())
        && store.date(key) == (type == QMetaType::QDateTime ? value.toDateTime() : QDateTime())
        && store.array(key) == (type == QMetaType::QVariantList ? value.toList() : QVariantList())
        && store.dictionary(key) == (type == QMetaType::QVariantMap ? value.toMap() : QVariantMap());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(onMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("defaults.json"));
    const QByteArray input(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            std::abort();
    }

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(input, &error);
    const bool readable = document.isObject() && error.error == QJsonParseError::NoError;
    ow::FileUserDefaults store(path);
    // An unreadable file is moved aside, never overwritten.
    if (readable != QFile::exists(path))
        std::abort();

    int rewritten = 0;
    for (const QString& key : document.object().keys()) {
        const QVariant value = store.value(key);
        if ((value.isValid() && !isSupported(value)) || !gettersAgree(store, key, value))
            std::abort();
        // Whatever was read can be written back and reads the same.
        if (value.isValid() && rewritten++ < 4) {
            store.setValue(key, value);
            if (refusedValue || ow::FileUserDefaults(path).value(key) != value)
                std::abort();
        }
    }

    // The next input starts from an empty folder.
    QDir dir(folder.path());
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
    return 0;
}
