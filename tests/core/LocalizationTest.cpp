#include "Localizer.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

using namespace ow;

namespace {

std::string str(const QString& text)
{
    return text.toStdString();
}

QJsonObject shippedCatalogue(const QString& language)
{
    QFile file(QStringLiteral(":/strings/%1.json").arg(language));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The shipped languages, by the name of their catalogue.
const char* const kShippedLanguages[] = {"en", "fr", "de", "es", "it", "pt_BR", "pl", "ja", "zh_CN"};

// Each shipped language by its own code, in either form; regions and scripts with no
// catalogue of their own; languages without a catalogue skipped; English ahead of another
// language wins; Traditional Chinese readers are not handed Simplified characters.
TEST(ShippedCatalogueTest, ThePreferredLanguagesPickTheirCatalogue)
{
    std::vector<std::pair<QStringList, const char*>> rows = {
        {{"fr-FR", "de"}, "fr"}, {{"fr_CA"}, "fr"}, {{"DE-at", "fr"}, "de"},
        {{"nl-NL", "ko", "de"}, "de"}, {{"nl-NL", "ko"}, "en"}, {{}, "en"}, {{"en-GB", "fr"}, "en"},
        {{"zh-TW", "de"}, "de"}, {{"zh-TW"}, "en"}, {{"zh-TW", "zh-Hant", "zh-CN"}, "zh_CN"}};
    for (const char* language : kShippedLanguages) {
        rows.push_back({{QString::fromLatin1(language)}, language});
        rows.push_back({{QString::fromLatin1(language).replace(u'_', u'-')}, language}); // BCP 47
    }
    for (const char* code : {"pt-BR", "pt_BR.UTF-8", "pt-Latn-BR", "pt", "pt-PT", "pt_PT.UTF-8@euro",
                             "pt-Latn-PT", "PT-pt"})
        rows.push_back({{QString::fromLatin1(code), "de"}, "pt_BR"});
    for (const char* code : {"zh-CN", "zh_CN.UTF-8", "zh-Hans", "zh_Hans_CN", "zh-Hans-CN", "zh", "zh-SG"})
        rows.push_back({{QString::fromLatin1(code), "de"}, "zh_CN"});
    for (const char* code : {"zh_TW", "zh-Hant", "zh-Hant-TW", "zh_HK", "zh-MO", "zh-Hant-CN"})
        rows.push_back({{QString::fromLatin1(code), "de"}, "de"});
    const QString english = shippedCatalogue("en").value("lock.title").toString();
    for (const auto& [preferences, served] : rows) {
        SCOPED_TRACE(str(preferences.join(u' ')));
        const QString expected = shippedCatalogue(served).value("lock.title").toString();
        ASSERT_FALSE(expected.isEmpty());
        ASSERT_TRUE(QLatin1String(served) == QLatin1String("en") || expected != english);
        EXPECT_EQ(str(Localizer(preferences).text("lock.title")), str(expected));
    }
}

// Catalogues of the test's own, for the cases the shipped ones can't show.
class CatalogueFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* folder : {"strings/a", "plain"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(QString::fromLatin1(folder)));
        const std::map<const char*, QByteArray> files = {
            {"strings/en.json", R"({"a": "A", "b": "B", "c": "C", "blank": "", "suffix": "beta"})"},
            {"strings/de.json", R"({"a": "de", "suffix": ""})"}, {"strings/pt.json", R"({"a": "pt"})"},
            {"strings/pt_BR.json", R"({"a": "pt-BR"})"}, {"strings/pt_PT.json", R"({"a": "pt-PT"})"},
            {"strings/es_MX.json", R"({"a": "es-MX"})"}, {"strings/es_AR.json", R"({"a": "es-AR"})"},
            {"strings/zh_CN.json", R"({"a": "Hans"})"}, {"strings/zh_TW.json", R"({"a": "Hant"})"},
            {"strings/it.json", R"({"a": 3, "b": null, "c": "it-C"})"}, {"strings/fr.json", R"({"a": "fr-A", "b": )"},
            {"strings/fr_CA.json", "[]"}, {"strings/nl.json", ""}, {"strings/sv.json", R"({"a": "sv"})"},
            {"strings/sv_SE.json", "not json"}, {"strings/de_extra.json", R"({"a": "de-extra"})"},
            {"strings/de_Latn_DE.json", R"({"a": "de-Latn-DE"})"}, {"strings/de_1.json", R"({"a": "de-1"})"},
            {"strings/a/b.json", R"({"a": "a/b"})"}, {"outside.json", R"({"a": "outside"})"},
            {"pt_outside.json", R"({"a": "pt-outside"})"},
            // A language-only catalogue is in the language's usual script, Simplified for Chinese.
            {"plain/en.json", R"({"a": "A"})"}, {"plain/zh.json", R"({"a": "zh"})"}};
        for (const auto& [name, contents] : files) {
            QFile file(m_dir.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write(contents), contents.size());
        }
    }

    QString folder(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private:
    QTemporaryDir m_dir;
};

TEST_F(CatalogueFolderTest, ServesTheBestCatalogueAndEnglishForWhatItLacks)
{
    const struct { QStringList preferences; const char* key; const char* expected; const char* folder = "strings"; } rows[] = {
        {{"pt-BR"}, "a", "pt-BR"}, {{"pt_PT"}, "a", "pt-PT"}, {{"pt-Latn-PT"}, "a", "pt-PT"},
        {{"pt-AO"}, "a", "pt"}, {{"pt"}, "a", "pt"},
        // No language-only catalogue: the exact region, else the first other region by name.
        {{"es-MX"}, "a", "es-MX"}, {{"es-ES"}, "a", "es-AR"}, {{"es"}, "a", "es-AR"},
        {{"zh-TW"}, "a", "Hant"}, {{"zh-HK"}, "a", "Hant"}, {{"zh-Hant"}, "a", "Hant"},
        {{"zh-CN"}, "a", "Hans"}, {{"zh-SG"}, "a", "Hans"}, {{"zh"}, "a", "Hans"},
        {{"zh-CN"}, "a", "zh", "plain"}, {{"zh-TW"}, "a", "A", "plain"},
        // Missing keys come from English, unknown ones are the key; an empty text stays empty.
        {{"de"}, "b", "B"}, {{"de"}, "no.such.key", "no.such.key"}, {{"de"}, "suffix", ""}, {{"de"}, "blank", ""},
        // Unusable catalogues contribute nothing; non-string values count as absent.
        {{"fr"}, "a", "A"}, {{"nl"}, "a", "A"}, {{"fr-CA"}, "a", "A"}, {{"it"}, "a", "A"}, {{"it"}, "b", "B"},
        {{"it"}, "c", "it-C"}, {{"sv-SE"}, "a", "sv"}, {{"fr", "de"}, "a", "de"}, {{"fr-CA", "de"}, "a", "de"},
        {{"fr"}, "a", "a", "missing"},
        // Nothing but plain letter codes ever names a file.
        {{"../outside"}, "a", "A"}, {{"..-outside"}, "a", "A"}, {{"pt-../outside"}, "a", "pt"},
        {{"pt_../../outside"}, "a", "pt"}, {{"pt-../pt_outside"}, "a", "pt"}, {{"pt_outside"}, "a", "pt"},
        {{"de-extra"}, "a", "de"}, {{"de_1"}, "a", "de"}, {{"de-Latn-DE"}, "a", "de"}, {{"a/b"}, "a", "A"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(str(row.preferences.join(u' ')) + " " + row.key);
        EXPECT_EQ(str(Localizer(row.preferences, folder(row.folder)).text(QString::fromLatin1(row.key))), row.expected);
    }
}

// Placeholders are filled in one pass by their number; argument text is never scanned again.
TEST_F(CatalogueFolderTest, FillsPlaceholdersByTheirNumber)
{
    const struct { const char* pattern; QStringList args; const char* expected; } rows[] = {
        {"%1 then %2", {"a", "b"}, "a then b"}, {"%2 before %1", {"a", "b"}, "b before a"},
        {"%1 = %1", {"x"}, "x = x"}, {"100% sure, %1%", {"7"}, "100% sure, 7%"},
        {"%11-%1", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}, "k-a"},
        {"%1 then %2", {"%2", "b"}, "%2 then b"}, {"%1 then %2", {"%1%2", "%1"}, "%1%2 then %1"},
        {"Nothing to fill", {"a", "b"}, "Nothing to fill"}, {"%1 %2 %3", {"a"}, "a %2 %3"},
        {"%1 %2 %3", {}, "%1 %2 %3"}, {"%1 and %3", {"a", "b"}, "a and %3"}, {"%11-%1", {"a"}, "%11-a"},
    };
    for (const auto& row : rows) {
        QFile file(folder("plain/en.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(QJsonObject{{"k", QString::fromUtf8(row.pattern)}}).toJson());
        file.close();
        EXPECT_EQ(str(Localizer({}, folder("plain")).format("k", row.args)), row.expected) << row.pattern;
    }
}

TEST(SharedLocalizerTest, FillsIntegersAsPlainDigitsAndTextsAsGiven)
{
    EXPECT_TRUE(L("settings.seconds_unit", 12345).contains("12345"));
    const QString countdown = L("lock.auto_unlock_countdown", 14, 5);
    EXPECT_GT(countdown.indexOf("5", countdown.indexOf("14") + 2), countdown.indexOf("14")) << str(countdown);
    EXPECT_TRUE(L("about.version_label", QStringLiteral("2.0 %1")).contains("2.0 %1"));
}

// The placeholder numbers in a text, in order.
QList<int> placeholders(const QString& text)
{
    static const QRegularExpression placeholder(QStringLiteral("%(\\d+)"));
    QList<int> numbers;
    for (auto it = placeholder.globalMatch(text); it.hasNext();)
        numbers.append(it.next().captured(1).toInt());
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// How many arguments follow a key in an L("key", ...) call that starts at from.
int argumentCount(const QString& source, qsizetype from)
{
    int depth = 0;
    int commas = 0;
    for (qsizetype i = from; i < source.size(); ++i) {
        const QChar c = source.at(i);
        if (c == u'"' || c == u'\'') {
            for (++i; i < source.size() && source.at(i) != c; ++i)
                i += source.at(i) == u'\\';
        } else if (c == u'(' || c == u'[' || c == u'{') {
            ++depth;
        } else if (c == u')' || c == u']' || c == u'}') {
            if (--depth == 0)
                return commas;
        } else if (c == u',' && depth == 1) {
            ++commas;
        }
    }
    return -1;
}

// English is the reference: every key the code names is in it, with as many placeholders
// as the code passes arguments, and every key in it is used.
TEST(ShippedCatalogueTest, TheCodeAndTheEnglishCatalogueAgreeOnKeysAndArguments)
{
    const QJsonObject english = shippedCatalogue("en");
    ASSERT_FALSE(english.isEmpty());
    QStringList sections;
    for (const QString& key : english.keys())
        sections.append(key.section(u'.', 0, 0));
    static const QRegularExpression literal(QStringLiteral("(\\bL\\()?\"([a-z_]+)\\.([a-z_.]+)\""));
    QSet<QString> used;
    for (const char* dir : {"app", "core", "platform"}) {
        QDirIterator files(QStringLiteral(OW_SOURCE_DIR "/") + dir, {"*.cpp", "*.h"}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QString source = QString::fromUtf8(file.readAll());
            for (auto it = literal.globalMatch(source); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                const QString key = match.captured(2) + u'.' + match.captured(3);
                const bool call = match.hasCaptured(1);
                if (!call && !sections.contains(match.captured(2)))
                    continue; // a file name, not a key
                used.insert(key);
                SCOPED_TRACE(str(file.fileName() + u' ' + key));
                ASSERT_TRUE(english.value(key).isString());
                if (call) {
                    const QList<int> numbers = placeholders(english.value(key).toString());
                    EXPECT_EQ(argumentCount(source, match.capturedStart(1) + 1),
                              numbers.isEmpty() ? 0 : numbers.last());
                }
            }
        }
    }
    for (const QString& key : english.keys())
        EXPECT_TRUE(used.contains(key)) << "unused key " << str(key);
}

TEST(ShippedCatalogueTest, EachHasEveryEnglishKeyTranslatedWithTheSamePlaceholders)
{
    const QJsonObject english = shippedCatalogue("en");
    for (const char* language : kShippedLanguages) {
        SCOPED_TRACE(language);
        QFile file(QStringLiteral(":/strings/%1.json").arg(QLatin1String(language)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonParseError error;
        const QJsonObject catalogue = QJsonDocument::fromJson(file.readAll(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << str(error.errorString());
        EXPECT_EQ(catalogue.keys(), english.keys());
        const bool translated = QLatin1String(language) != QLatin1String("en");
        int sentences = 0;
        for (auto it = english.constBegin(); it != english.constEnd(); ++it) {
            SCOPED_TRACE(str(it.key()));
            ASSERT_TRUE(catalogue.value(it.key()).isString());
            const QString text = catalogue.value(it.key()).toString();
            EXPECT_FALSE(text.trimmed().isEmpty());
            // %1..%n, each once, as many as English has.
            const QList<int> numbers = placeholders(text);
            for (int n = 0; n < numbers.size(); ++n)
                EXPECT_EQ(numbers[n], n + 1) << str(text);
            EXPECT_EQ(numbers, placeholders(it.value().toString())) << str(text);
            // Menus would take '&' as a mnemonic and labels may render '<' as markup.
            EXPECT_FALSE(text.contains('&') || text.contains('<')) << str(text);
            // A copied English sentence would hide a missing translation behind a full key set.
            if (translated && it.value().toString().split(u' ', Qt::SkipEmptyParts).size() >= 4) {
                ++sentences;
                EXPECT_NE(str(text), str(it.value().toString()));
            }
        }
        EXPECT_TRUE(!translated || sentences > 0);
    }
}

} // namespace
