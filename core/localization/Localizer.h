#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <type_traits>

namespace ow {

// The texts of one language, looked up by key. English is the fallback for any key
// the chosen language lacks; the key itself is shown when no catalogue has it.
class Localizer {
public:
    // preferredLanguages: codes such as "fr-FR", "de", "zh_Hans_CN" or "en_US", most
    // preferred first; the first one that some catalogue serves wins, English stops the search.
    // catalogueFolder holds one "<language>.json" per language, e.g. "fr.json", or
    // "<language>_<REGION>.json" for a regional variant, e.g. "pt_BR.json". A preference
    // takes its exact region's catalogue, else its language's, else another region's of the
    // same language in the same script: "pt-PT" takes pt_BR.json, "zh-TW" never zh_CN.json.
    explicit Localizer(const QStringList& preferredLanguages,
                       const QString& catalogueFolder = QStringLiteral(":/strings"));

    QString text(const QString& key) const;

    // Fills %1, %2… with args in one pass: %n takes args[n - 1], an argument's own text is
    // never scanned again, and a placeholder with no argument stays as it is.
    QString format(const QString& key, const QStringList& args) const;

    // The user's languages (LANGUAGE, then LC_MESSAGES / LANG) and the built-in catalogues.
    static const Localizer& shared();

private:
    QString lookup(const QString& key) const;

    QHash<QString, QString> m_english;
    QHash<QString, QString> m_chosen;
};

namespace detail {

template <typename T>
QString argumentText(const T& value)
{
    if constexpr (std::is_integral_v<T>) {
        static_assert(!std::is_same_v<T, bool> && !std::is_same_v<T, char>,
                      "pass a number or a text, not a bool or a single char");
        // Plain digits: no locale grouping in counts or durations.
        return QString::number(value);
    } else if constexpr (std::is_convertible_v<const T&, const char*>) {
        const char* utf8 = value;
        return QString::fromUtf8(utf8);
    } else {
        static_assert(std::is_same_v<T, QString>, "pass a number or a text");
        return value;
    }
}

} // namespace detail

QString L(const char* key);

template <typename... Args>
QString L(const char* key, const Args&... args)
{
    return Localizer::shared().format(QString::fromLatin1(key),
                                      QStringList{detail::argumentText(args)...});
}

} // namespace ow
