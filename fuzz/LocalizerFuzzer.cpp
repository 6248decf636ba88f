#include "Localizer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

void checkKey(const ow::Localizer& localizer, const QJsonObject& catalogue, const QString& key)
{
    const QString text = localizer.text(key);
    // The catalogue's own text when it has one, else English's, else the key.
    const QJsonValue own = catalogue.value(key);
    const QString expected = own.isString() ? own.toString()
        : key == QLatin1String("greeting") ? QStringLiteral("Hello %1")
                                           : key;
    // Placeholders without an argument stay; arguments are never scanned again, so each
    // placeholder of two or three characters grows by at most the argument's length.
    const QString filled = localizer.format(key, {QStringLiteral("%2%1"), QStringLiteral("%1")});
    if (text != expected || localizer.format(key, {}) != text || filled.size() > text.size() * 2)
        std::abort();
}

} // namespace

// The warnings about broken catalogues would drown libFuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const QTemporaryDir folder;
    static const bool hasEnglish =
        write(folder.filePath(QStringLiteral("en.json")), QByteArrayLiteral(R"({"greeting": "Hello %1"})"));
    const QByteArray input(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    if (!hasEnglish || !write(folder.filePath(QStringLiteral("fr.json")), input))
        std::abort();

    const ow::Localizer localizer({QStringLiteral("fr-FR")}, folder.path());
    QJsonObject catalogue = QJsonDocument::fromJson(input).object();
    // A catalogue without a single text is passed over for English.
    if (std::none_of(catalogue.constBegin(), catalogue.constEnd(), [](const QJsonValue& v) { return v.isString(); }))
        catalogue = {};
    QStringList keys = catalogue.keys().mid(0, 8);
    keys << QStringLiteral("greeting") << QStringLiteral("missing") << QString();
    for (const QString& key : keys)
        checkKey(localizer, catalogue, key);
    return 0;
}
