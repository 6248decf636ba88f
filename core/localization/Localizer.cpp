#include "Localizer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringView>

#include <utility>

namespace ow {

namespace {

using Catalogue = QHash<QString, QString>;

// Anything unreadable contributes nothing: the texts then come from English, or are the keys.
Catalogue loadCatalogue(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("OrbinWash: cannot read the strings catalogue %s", qPrintable(path));
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        qWarning("OrbinWash: the strings catalogue %s is not a JSON object", qPrintable(path));
        return {};
    }
    Catalogue catalogue;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isString())
            catalogue.insert(it.key(), it.value().toString());
    }
    return catalogue;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// "fr-FR", "fr_FR" and "FR" all name fr.json. Only a plain 2- or 3-letter code is
// accepted, so a preference can never point outside the catalogue folder.
QString languagePart(const QString& code)
{
    qsizetype end = 0;
    while (end < code.size() && code.at(end) != u'-' && code.at(end) != u'_')
        ++end;
    const QString language = code.left(end).toLower();
    if (language.size() < 2 || language.size() > 3)
        return {};
    for (const QChar c : language) {
        if (!isAsciiLetter(c))
            return {};
    }
    return language;
}

int asciiDigit(const QString& text, qsizetype index)
{
    if (index >= text.size())
        return -1;
    const char16_t c = text.at(index).unicode();
    return c >= u'0' && c <= u'9' ? int(c - u'0') : -1;
}

} // namespace

Localizer::Localizer(const QStringList& preferredLanguages, const QString& catalogueFolder)
    : m_english(loadCatalogue(catalogueFolder + QStringLiteral("/en.json")))
{
    for (const QString& code : preferredLanguages) {
        const QString language = languagePart(code);
        if (language.isEmpty())
            continue;
        if (language == u"en")
            break;
        const QString path = catalogueFolder + u'/' + language + QStringLiteral(".json");
        if (!QFile::exists(path))
            continue;
        Catalogue catalogue = loadCatalogue(path);
        // A broken catalogue is no better than none: the next language may do.
        if (catalogue.isEmpty())
            continue;
        m_chosen = std::move(catalogue);
        break;
    }
}

QString Localizer::lookup(const QString& key) const
{
    if (const auto it = m_chosen.constFind(key); it != m_chosen.cend())
        return *it;
    if (const auto it = m_english.constFind(key); it != m_english.cend())
        return *it;
    return key;
}

QString Localizer::text(const QString& key) const
{
    return lookup(key);
}

QString Localizer::format(const QString& key, const QStringList& args) const
{
    const QString pattern = lookup(key);
    QString result;
    result.reserve(pattern.size());
    qsizetype i = 0;
    while (i < pattern.size()) {
        const int first = pattern.at(i) == u'%' ? asciiDigit(pattern, i + 1) : -1;
        if (first < 0) {
            result += pattern.at(i);
            ++i;
            continue;
        }
        // As with QString::arg, a placeholder number has one or two digits.
        const int second = asciiDigit(pattern, i + 2);
        const int number = second < 0 ? first : first * 10 + second;
        const qsizetype length = second < 0 ? 2 : 3;
        if (number >= 1 && number <= args.size())
            result += args.at(number - 1);
        else
            result += QStringView(pattern).mid(i, length);
        i += length;
    }
    return result;
}

const Localizer& Localizer::shared()
{
    static const Localizer instance(QLocale::system().uiLanguages(), QStringLiteral(":/strings"));
    return instance;
}

QString L(const char* key)
{
    return Localizer::shared().text(QString::fromLatin1(key));
}

} // namespace ow
