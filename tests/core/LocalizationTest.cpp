#include "Localizer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace ow;

namespace {

// Every key the app uses, with how many arguments it is formatted with.
const std::map<QString, int>& expectedKeys()
{
    static const std::map<QString, int> keys = {
        {"about.developed_by", 0},
        {"about.version_label", 1},
        {"accessibility.back", 0},
        {"accessibility.messages", 0},
        {"accessibility.status_icon", 0},
        {"app.name", 0},
        {"common.cancel", 0},
        {"common.later", 0},
        {"common.ok", 0},
        {"common.send", 0},
        {"common.send_failed_title", 0},
        {"edit.undo", 0},
        {"edit.redo", 0},
        {"edit.cut", 0},
        {"edit.copy", 0},
        {"edit.paste", 0},
        {"edit.select_all", 0},
        {"home.subtitle", 0},
        {"home.unlock_hint", 1},
        {"lock.button", 0},
        {"lock.title", 0},
        {"lock.subtitle", 0},
        {"lock.instruction_one", 1},
        {"lock.instruction_other", 1},
        {"lock.keep_holding", 0},
        {"lock.keyboard_busy_title", 0},
        {"lock.keyboard_busy_message", 0},
        {"lock.auto_unlock_countdown", 2},
        {"lock.power_assertion_reason", 0},
        {"lock.power_keys_reason", 0},
        {"menu.file", 0},
        {"menu.close", 0},
        {"menu.edit", 0},
        {"menu.quit", 0},
        {"menu.check_updates", 0},
        {"menu.report_problem", 0},
        {"menu.open_app", 0},
        {"messages.banner_title", 0},
        {"messages.window_title", 0},
        {"messages.orbin_labs_prefix", 0},
        {"messages.you_prefix", 0},
        {"messages.empty", 0},
        {"messages.hint", 0},
        {"messages.reply_placeholder", 0},
        {"messages.send_failed_message", 0},
        {"onboarding.welcome_title", 0},
        {"onboarding.welcome_message", 0},
        {"onboarding.dock_button", 0},
        {"onboarding.menubar_button", 0},
        {"permission.explain_title", 0},
        {"permission.explain_message", 0},
        {"permission.allow_button", 0},
        {"report.title", 0},
        {"report.message", 0},
        {"report.email_placeholder", 0},
        {"report.sent_title", 0},
        {"report.sent_message", 0},
        {"report.failed_message", 0},
        {"settings.title", 0},
        {"settings.hold_label", 0},
        {"settings.seconds_unit", 1},
        {"settings.auto_update", 0},
        {"settings.menu_bar_icon", 0},
        {"settings.launch_at_login", 0},
        {"update.up_to_date_title", 0},
        {"update.up_to_date", 1},
        {"update.available_title", 0},
        {"update.available", 2},
        {"update.release_notes", 1},
        {"update.saved_to", 1},
        {"update.not_saved", 0},
        {"update.failed_title", 0},
        {"update.failed", 0},
        {"update.download", 0},
        {"update.show_in_folder", 0},
    };
    return keys;
}

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

// A catalogue folder of the test's own, for cases the shipped catalogues can't show.
class CatalogueFolder {
public:
    CatalogueFolder() { EXPECT_TRUE(m_dir.isValid()); }

    void write(const QString& fileName, const QByteArray& contents) const
    {
        QFile file(m_dir.filePath(fileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(contents), contents.size());
    }

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

TEST(LocalizerTest, PicksThePreferredLanguageByItsLanguagePart)
{
    const QString english = shippedCatalogue("en").value("menu.file").toString();
    const QString french = shippedCatalogue("fr").value("menu.file").toString();
    const QString german = shippedCatalogue("de").value("menu.file").toString();
    ASSERT_NE(french, english);
    ASSERT_NE(german, english);

    EXPECT_EQ(str(Localizer({"fr-FR", "de"}).text("menu.file")), str(french));
    EXPECT_EQ(str(Localizer({"fr_CA"}).text("menu.file")), str(french));
    EXPECT_EQ(str(Localizer({"DE-at", "fr"}).text("menu.file")), str(german));
}

TEST(LocalizerTest, SkipsLanguagesWithoutCatalogueAndFallsBackToEnglish)
{
    const QString english = shippedCatalogue("en").value("menu.file").toString();
    const QString german = shippedCatalogue("de").value("menu.file").toString();

    EXPECT_EQ(str(Localizer({"nl-NL", "ko", "de"}).text("menu.file")), str(german));
    EXPECT_EQ(str(Localizer({"nl-NL", "ko"}).text("menu.file")), str(english));
    EXPECT_EQ(str(Localizer({}).text("menu.file")), str(english));
    // English ahead of a translated language wins.
    EXPECT_EQ(str(Localizer({"en-GB", "fr"}).text("menu.file")), str(english));
}

TEST(LocalizerTest, KeyMissingFromChosenCatalogueComesFromEnglish)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"greeting": "Hello", "farewell": "Goodbye"})");
    folder.write("fr.json", R"({"greeting": "Bonjour"})");

    const Localizer localizer({"fr-FR"}, folder.path());
    EXPECT_EQ(str(localizer.text("greeting")), "Bonjour");
    EXPECT_EQ(str(localizer.text("farewell")), "Goodbye");
}

TEST(LocalizerTest, KeyInNoCatalogueIsShownAsTheKey)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"greeting": "Hello"})");
    folder.write("fr.json", R"({"greeting": "Bonjour"})");

    EXPECT_EQ(str(Localizer({"fr"}, folder.path()).text("no.such.key")), "no.such.key");
    EXPECT_EQ(str(Localizer({"fr"}).text("no.such.key")), "no.such.key");
}

TEST(LocalizerTest, EmptyTextIsKeptRatherThanReplacedByEnglish)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"suffix": "beta", "blank": ""})");
    folder.write("de.json", R"({"suffix": ""})");

    const Localizer localizer({"de"}, folder.path());
    const QString suffix = localizer.text("suffix");
    EXPECT_TRUE(suffix.isEmpty()) << str(suffix);
    const QString blank = localizer.text("blank");
    EXPECT_TRUE(blank.isEmpty()) << str(blank);
}

TEST(LocalizerTest, MalformedCataloguesNeverCrashAndContributeNothing)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"a": "A", "b": "B", "c": "C"})");
    folder.write("fr.json", R"({"a": "fr-A", "b": )");
    folder.write("de.json", R"(["a", "b"])");
    folder.write("it.json", R"({"a": 3, "b": null, "c": "it-C"})");
    folder.write("nl.json", "");

    EXPECT_EQ(str(Localizer({"fr"}, folder.path()).text("a")), "A");
    EXPECT_EQ(str(Localizer({"de"}, folder.path()).text("a")), "A");
    EXPECT_EQ(str(Localizer({"nl"}, folder.path()).text("a")), "A");

    // Non-string values count as absent; the file's strings still count.
    const Localizer italian({"it"}, folder.path());
    EXPECT_EQ(str(italian.text("a")), "A");
    EXPECT_EQ(str(italian.text("b")), "B");
    EXPECT_EQ(str(italian.text("c")), "it-C");
}

TEST(LocalizerTest, UnusableCatalogueGivesTheNextPreferredLanguageItsChance)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"a": "A"})");
    folder.write("fr.json", "not json");
    folder.write("de.json", R"({"a": "de-A"})");

    EXPECT_EQ(str(Localizer({"fr", "de"}, folder.path()).text("a")), "de-A");
}

TEST(LocalizerTest, WorksWithoutAnyCatalogue)
{
    CatalogueFolder folder;
    const Localizer localizer({"fr"}, folder.path() + "/missing");
    EXPECT_EQ(str(localizer.text("a")), "a");
    EXPECT_EQ(str(localizer.format("b", {"x"})), "b");
}

TEST(LocalizerTest, LanguageCodeCannotReachOutsideTheCatalogueFolder)
{
    CatalogueFolder folder;
    folder.write("outside.json", R"({"a": "outside"})");
    QDir(folder.path()).mkdir("strings");
    folder.write("strings/en.json", R"({"a": "A"})");
    const QString catalogues = folder.path() + "/strings";

    EXPECT_EQ(str(Localizer({"../outside"}, catalogues).text("a")), "A");
    EXPECT_EQ(str(Localizer({"..-outside"}, catalogues).text("a")), "A");
}

// The shipped languages, by the name of their catalogue.
const char* const kShippedLanguages[] = {"en", "fr", "de", "es", "it", "pt_BR", "pl", "ja", "zh_CN"};

QString shippedText(const QString& language, const char* key)
{
    return shippedCatalogue(language).value(QString::fromLatin1(key)).toString();
}

TEST(LocalizerTest, EachShippedLanguageIsChosenByItsOwnCode)
{
    for (const char* language : kShippedLanguages) {
        SCOPED_TRACE(language);
        const QString expected = shippedText(language, "lock.title");
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(str(Localizer({QString::fromLatin1(language)}).text("lock.title")),
                  str(expected));
        // The same code in the BCP 47 spelling the desktop passes.
        const QString bcp47 = QString::fromLatin1(language).replace(u'_', u'-');
        EXPECT_EQ(str(Localizer({bcp47}).text("lock.title")), str(expected));
    }
}

TEST(LocalizerTest, PortugueseOfAnyRegionGetsBrazilianPortuguese)
{
    const QString brazilian = shippedText("pt_BR", "lock.title");
    ASSERT_FALSE(brazilian.isEmpty());
    ASSERT_NE(str(brazilian), str(shippedText("en", "lock.title")));

    for (const char* code : {"pt-BR", "pt_BR", "pt_BR.UTF-8", "pt-Latn-BR", "pt", "pt-PT",
                             "pt_PT.UTF-8@euro", "pt-Latn-PT", "PT-pt"}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(str(Localizer({QString::fromLatin1(code), "de"}).text("lock.title")),
                  str(brazilian));
    }
}

TEST(LocalizerTest, SimplifiedChineseServesOnlySimplifiedChinese)
{
    const QString simplified = shippedText("zh_CN", "lock.title");
    const QString german = shippedText("de", "lock.title");
    const QString english = shippedText("en", "lock.title");
    ASSERT_FALSE(simplified.isEmpty());

    for (const char* code : {"zh-CN", "zh_CN", "zh_CN.UTF-8", "zh-Hans", "zh_Hans_CN",
                             "zh-Hans-CN", "zh", "zh-SG"}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(str(Localizer({QString::fromLatin1(code), "de"}).text("lock.title")),
                  str(simplified));
    }
    // Traditional Chinese readers are not handed Simplified characters: the next
    // preferred language serves, else English.
    for (const char* code : {"zh-TW", "zh_TW", "zh-Hant", "zh-Hant-TW", "zh_HK", "zh-MO",
                             "zh-Hant-CN"}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(str(Localizer({QString::fromLatin1(code), "de"}).text("lock.title")),
                  str(german));
        EXPECT_EQ(str(Localizer({QString::fromLatin1(code)}).text("lock.title")), str(english));
    }
    EXPECT_EQ(str(Localizer({"zh-TW", "zh-Hant", "zh-CN"}).text("lock.title")), str(simplified));
}

TEST(LocalizerTest, ExactRegionComesBeforeTheLanguageThenAnyOtherRegion)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"a": "A"})");
    folder.write("pt.json", R"({"a": "pt"})");
    folder.write("pt_BR.json", R"({"a": "pt-BR"})");
    folder.write("pt_PT.json", R"({"a": "pt-PT"})");
    folder.write("es_MX.json", R"({"a": "es-MX"})");
    folder.write("es_AR.json", R"({"a": "es-AR"})");

    EXPECT_EQ(str(Localizer({"pt-BR"}, folder.path()).text("a")), "pt-BR");
    EXPECT_EQ(str(Localizer({"pt_PT"}, folder.path()).text("a")), "pt-PT");
    EXPECT_EQ(str(Localizer({"pt-Latn-PT"}, folder.path()).text("a")), "pt-PT");
    EXPECT_EQ(str(Localizer({"pt-AO"}, folder.path()).text("a")), "pt");
    EXPECT_EQ(str(Localizer({"pt"}, folder.path()).text("a")), "pt");
    // No language-only catalogue: the exact region, else the first other region by name.
    EXPECT_EQ(str(Localizer({"es-MX"}, folder.path()).text("a")), "es-MX");
    EXPECT_EQ(str(Localizer({"es-ES"}, folder.path()).text("a")), "es-AR");
    EXPECT_EQ(str(Localizer({"es"}, folder.path()).text("a")), "es-AR");
}

TEST(LocalizerTest, ChineseCataloguesFollowTheScriptOfTheRegion)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"a": "A"})");
    folder.write("zh_CN.json", R"({"a": "Hans"})");
    folder.write("zh_TW.json", R"({"a": "Hant"})");

    EXPECT_EQ(str(Localizer({"zh-TW"}, folder.path()).text("a")), "Hant");
    EXPECT_EQ(str(Localizer({"zh-HK"}, folder.path()).text("a")), "Hant");
    EXPECT_EQ(str(Localizer({"zh-Hant"}, folder.path()).text("a")), "Hant");
    EXPECT_EQ(str(Localizer({"zh-CN"}, folder.path()).text("a")), "Hans");
    EXPECT_EQ(str(Localizer({"zh-SG"}, folder.path()).text("a")), "Hans");
    EXPECT_EQ(str(Localizer({"zh-Hans"}, folder.path()).text("a")), "Hans");
    EXPECT_EQ(str(Localizer({"zh"}, folder.path()).text("a")), "Hans");

    // A language-only catalogue is in the language's usual script, Simplified for Chinese.
    CatalogueFolder plain;
    plain.write("en.json", R"({"a": "A"})");
    plain.write("zh.json", R"({"a": "zh"})");
    EXPECT_EQ(str(Localizer({"zh-CN"}, plain.path()).text("a")), "zh");
    EXPECT_EQ(str(Localizer({"zh-TW"}, plain.path()).text("a")), "A");
}

TEST(LocalizerTest, BrokenRegionalCatalogueLetsTheNextCandidateServe)
{
    CatalogueFolder folder;
    folder.write("en.json", R"({"a": "A"})");
    folder.write("pt_BR.json", "not json");
    folder.write("pt.json", R"({"a": "pt"})");
    folder.write("fr_CA.json", "[]");
    folder.write("de.json", R"({"a": "de"})");

    EXPECT_EQ(str(Localizer({"pt-BR"}, folder.path()).text("a")), "pt");
    EXPECT_EQ(str(Localizer({"fr-CA", "de"}, folder.path()).text("a")), "de");
}

TEST(LocalizerTest, RegionCodeCannotReachOutsideTheCatalogueFolder)
{
    CatalogueFolder folder;
    folder.write("outside.json", R"({"a": "outside"})");
    folder.write("pt_outside.json", R"({"a": "pt-outside"})");
    QDir(folder.path()).mkdir("strings");
    folder.write("strings/en.json", R"({"a": "A"})");
    folder.write("strings/de_extra.json", R"({"a": "de-extra"})");
    folder.write("strings/de_Latn_DE.json", R"({"a": "de-Latn-DE"})");
    folder.write("strings/de_1.json", R"({"a": "de-1"})");
    const QString catalogues = folder.path() + "/strings";

    for (const char* code : {"pt-../outside", "pt_../../outside", "pt-../pt_outside",
                             "pt_outside", "de-extra", "de_1", "de-Latn-DE", "de_DE"}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(str(Localizer({QString::fromLatin1(code)}, catalogues).text("a")), "A");
    }
}

TEST(ShippedTranslationTest, LongSentencesAreNeverLeftInEnglish)
{
    // A copied English sentence would hide a missing translation behind a full key set.
    const QJsonObject english = shippedCatalogue("en");
    ASSERT_FALSE(english.isEmpty());
    QStringList sentences;
    for (auto it = english.constBegin(); it != english.constEnd(); ++it) {
        if (it.value().toString().split(u' ', Qt::SkipEmptyParts).size() >= 4)
            sentences.append(it.key());
    }
    for (const char* key : {"lock.title", "lock.subtitle", "lock.instruction_one",
                            "lock.instruction_other", "home.unlock_hint",
                            "permission.explain_message", "lock.keyboard_busy_message",
                            "onboarding.welcome_message", "report.message"})
        EXPECT_TRUE(sentences.contains(QString::fromLatin1(key))) << key;

    for (const char* language : kShippedLanguages) {
        if (QString::fromLatin1(language) == u"en")
            continue;
        SCOPED_TRACE(language);
        const QJsonObject catalogue = shippedCatalogue(language);
        ASSERT_FALSE(catalogue.isEmpty());
        for (const QString& key : sentences) {
            EXPECT_NE(str(catalogue.value(key).toString()), str(english.value(key).toString()))
                << str(key);
        }
    }
}

class FormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder.write("en.json", R"({
            "two": "%1 then %2",
            "swapped": "%2 before %1",
            "none": "Nothing to fill",
            "gap": "%1 and %3",
            "many": "%1 %2 %3",
            "twice": "%1 = %1",
            "percent": "100% sure, %1%",
            "eleven": "%11-%1"
        })");
    }

    QString format(const char* key, const QStringList& args) const
    {
        return Localizer({}, m_folder.path()).format(QString::fromLatin1(key), args);
    }

private:
    CatalogueFolder m_folder;
};

TEST_F(FormatTest, FillsPlaceholdersByTheirNumber)
{
    EXPECT_EQ(str(format("two", {"a", "b"})), "a then b");
    EXPECT_EQ(str(format("swapped", {"a", "b"})), "b before a");
    EXPECT_EQ(str(format("twice", {"x"})), "x = x");
    EXPECT_EQ(str(format("percent", {"7"})), "100% sure, 7%");
    EXPECT_EQ(str(format("eleven", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"})),
              "k-a");
}

TEST_F(FormatTest, ArgumentTextIsNeverSubstitutedAgain)
{
    EXPECT_EQ(str(format("two", {"%2", "b"})), "%2 then b");
    EXPECT_EQ(str(format("two", {"%1%2", "%1"})), "%1%2 then %1");
}

TEST_F(FormatTest, MismatchedPlaceholdersLeaveTheTextAlone)
{
    EXPECT_EQ(str(format("none", {"a", "b"})), "Nothing to fill");
    EXPECT_EQ(str(format("many", {"a"})), "a %2 %3");
    EXPECT_EQ(str(format("many", {})), "%1 %2 %3");
    EXPECT_EQ(str(format("gap", {"a", "b"})), "a and %3");
    EXPECT_EQ(str(format("eleven", {"a"})), "%11-a");
}

TEST(SharedLocalizerTest, FillsIntegersAsPlainDigitsAndTextsAsGiven)
{
    const QString seconds = L("settings.seconds_unit", 12345);
    EXPECT_TRUE(seconds.contains("12345")) << str(seconds);
    EXPECT_FALSE(seconds.contains("%1")) << str(seconds);

    const QString countdown = L("lock.auto_unlock_countdown", 14, 5);
    const qsizetype minutes = countdown.indexOf("14");
    ASSERT_GE(minutes, 0) << str(countdown);
    EXPECT_GT(countdown.indexOf("5", minutes + 2), minutes) << str(countdown);

    EXPECT_TRUE(L("about.version_label", "1.2.3").contains("1.2.3"));
    EXPECT_TRUE(L("about.version_label", QStringLiteral("2.0 %1")).contains("2.0 %1"));
    EXPECT_EQ(str(L("app.name")), "OrbinWash");
}

std::string placeholderProblem(const QString& text, int arguments)
{
    // A '%' followed by a digit is a placeholder: it must be one of %1..%n, each once.
    std::map<int, int> seen;
    static const QRegularExpression placeholder(QStringLiteral("%(\\d+)"));
    for (auto it = placeholder.globalMatch(text); it.hasNext();)
        ++seen[it.next().captured(1).toInt()];
    for (int n = 1; n <= arguments; ++n) {
        if (seen[n] != 1)
            return str(QStringLiteral("%%1 appears %2 times")
                           .arg(QString::number(n), QString::number(seen[n])));
        seen.erase(n);
    }
    if (!seen.empty())
        return str(QStringLiteral("unexpected placeholder %%1")
                       .arg(QString::number(seen.begin()->first)));
    return {};
}

class ShippedCatalogueTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedCatalogueTest, HasEveryKeyWithAPlainTextAndMatchingPlaceholders)
{
    QFile file(QStringLiteral(":/strings/%1.json").arg(GetParam()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << str(error.errorString());
    ASSERT_TRUE(document.isObject());
    const QJsonObject catalogue = document.object();

    for (const auto& [key, arguments] : expectedKeys()) {
        SCOPED_TRACE(str(key));
        if (!catalogue.value(key).isString()) {
            ADD_FAILURE() << (catalogue.contains(key) ? "not a string" : "missing");
            continue;
        }
        const QString text = catalogue.value(key).toString();
        EXPECT_FALSE(text.trimmed().isEmpty());
        EXPECT_EQ(placeholderProblem(text, arguments), "");
        // Menus would take '&' as a mnemonic and labels may render '<' as markup.
        EXPECT_FALSE(text.contains('&')) << str(text);
        EXPECT_FALSE(text.contains('<')) << str(text);
    }
    for (const QString& key : catalogue.keys())
        EXPECT_TRUE(expectedKeys().count(key)) << "unknown key " << str(key);
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedCatalogueTest, ::testing::ValuesIn(kShippedLanguages),
                         [](const ::testing::TestParamInfo<const char*>& language) {
                             return std::string(language.param);
                         });

} // namespace
