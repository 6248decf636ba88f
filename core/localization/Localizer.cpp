#include "Localizer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QList>
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

bool isLetterCode(QStringView part, qsizetype minimum, qsizetype maximum)
{
    if (part.size() < minimum || part.size() > maximum)
        return false;
    for (const QChar c : part) {
        if (!isAsciiLetter(c))
            return false;
    }
    return true;
}

// A preference such as "pt-BR", "zh_Hans_CN" or "de_DE.UTF-8", cut into the parts that
// choose a catalogue. Only plain letter codes are kept (2 or 3 letters for the language,
// 4 for the script, 2 for the region), so a preference can never point outside the
// catalogue folder. Anything after them (a variant, a numeric region) is ignored.
struct LanguageTag {
    QString language; // "pt"
    QString script;   // "Hans", or empty
    QString region;   // "BR", or empty

    bool isValid() const { return !language.isEmpty(); }
};

LanguageTag parseTag(const QString& code)
{
    // POSIX locale names may carry a character set and a modifier: "sr_RS.UTF-8@latin".
    qsizetype end = 0;
    while (end < code.size() && code.at(end) != u'.' && code.at(end) != u'@')
        ++end;
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= end; ++i) {
        if (i == end || code.at(i) == u'-' || code.at(i) == u'_') {
            parts.append(QStringView(code).mid(start, i - start));
            start = i + 1;
        }
    }

    LanguageTag tag;
    if (parts.isEmpty() || !isLetterCode(parts.first(), 2, 3))
        return tag;
    tag.language = parts.first().toString().toLower();
    qsizetype next = 1;
    if (next < parts.size() && isLetterCode(parts.at(next), 4, 4)) {
        tag.script = parts.at(next).left(1).toString().toUpper()
            + parts.at(next).mid(1).toString().toLower();
        ++next;
    }
    if (next < parts.size() && isLetterCode(parts.at(next), 2, 2))
        tag.region = parts.at(next).toString().toUpper();
    return tag;
}

// The script a language is written in where the tag says, else its usual one there:
// "zh-TW" and "zh-Hant" are Traditional Chinese, "zh", "zh-CN" and "zh-SG" Simplified.
QLocale::Script likelyScript(const LanguageTag& tag)
{
    QString name = tag.language;
    if (!tag.script.isEmpty())
        name += u'-' + tag.script;
    if (!tag.region.isEmpty())
        name += u'-' + tag.region;
    return QLocale(name).script();
}

// The catalogues that may serve one preference, best first: the exact
// "<language>_<REGION>.json", then "<language>.json", then any other region's catalogue of
// the language (a "pt-PT" user is better served in Brazilian Portuguese than in English).
// A catalogue written in another script never serves: "zh-TW" does not get zh_CN.json.
QStringList candidateFiles(const LanguageTag& tag, const QString& catalogueFolder)
{
    QStringList names;
    if (!tag.region.isEmpty())
        names.append(tag.language + u'_' + tag.region);
    names.append(tag.language);
    // Matched by hand: a wildcard filter would load a regular expression engine for good.
    // Whatever is not "<name>.json" finds no file below.
    const QString prefix = tag.language + u'_';
    for (const QString& file : QDir(catalogueFolder).entryList(QDir::Files, QDir::Name)) {
        if (!file.startsWith(prefix))
            continue;
        const QString name = file.chopped(5);
        const LanguageTag other = parseTag(name);
        // Only "<language>_<REGION>" names; "pt_BR_extra.json" or "pt_x.json" are not ours.
        if (other.language == tag.language && other.script.isEmpty() && !other.region.isEmpty()
            && name.size() == tag.language.size() + 3 && !names.contains(name))
            names.append(name);
    }

    const QLocale::Script script = likelyScript(tag);
    QStringList files;
    for (const QString& name : names) {
        if (likelyScript(parseTag(name)) != script)
            continue;
        const QString path = catalogueFolder + u'/' + name + QStringLiteral(".json");
        if (QFile::exists(path))
            files.append(path);
    }
    return files;
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
        const LanguageTag tag = parseTag(code);
        if (!tag.isValid())
            continue;
        if (tag.language == u"en")
            return;
        for (const QString& path : candidateFiles(tag, catalogueFolder)) {
            Catalogue catalogue = loadCatalogue(path);
            // A broken catalogue is no better than none: the next one may do.
            if (catalogue.isEmpty())
                continue;
            m_chosen = std::move(catalogue);
            return;
        }
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
        // The text up to the next placeholder in one piece: the countdown formats once a second.
        const qsizetype percent = pattern.indexOf(u'%', i);
        result += QStringView(pattern).sliced(i, (percent < 0 ? pattern.size() : percent) - i);
        if (percent < 0)
            break;
        i = percent;
        const int first = asciiDigit(pattern, i + 1);
        if (first < 0) {
            result += u'%';
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
