#include "Appcast.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace ow {

namespace {

constexpr auto kSparkleNamespace = QLatin1String("http://www.andymatuschak.org/xml-namespaces/sparkle");
constexpr qsizetype kMaxUrlLength = 2048;
constexpr qsizetype kMaxDisplayVersionLength = 64;
constexpr qsizetype kMaxTextLength = 200;

bool isPlain(const QXmlStreamReader& xml, QLatin1String name)
{
    return xml.namespaceUri().isEmpty() && xml.name() == name;
}

bool isSparkle(const QXmlStreamReader& xml, QLatin1String name)
{
    return xml.namespaceUri() == kSparkleNamespace && xml.name() == name;
}

// One line of at most maxLength characters, without control or direction-changing
// characters that could disguise what the feed says.
QString cleaned(const QString& text, qsizetype maxLength)
{
    QString result = text;
    for (QChar& c : result) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    result = result.simplified();
    if (result.size() > maxLength)
        result.truncate(result.at(maxLength - 1).isHighSurrogate() ? maxLength - 1 : maxLength);
    return result.trimmed(); // the cut may have fallen just after a space
}

// Dotted numbers only: QVersionNumber would quietly drop a suffix such as "beta", and
// a huge segment would overflow.
std::optional<QVersionNumber> parsedVersion(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,7}$"));
    const QString trimmed = text.trimmed();
    if (!pattern.match(trimmed).hasMatch())
        return std::nullopt;
    return QVersionNumber::fromString(trimmed);
}

// Only https web addresses: nothing a network on the way could change, no file:, no
// scripts, no credentials hiding the real host.
std::optional<QUrl> secureWebUrl(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() > kMaxUrlLength)
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().toLower() != QLatin1String("https") || url.host().isEmpty()
        || !url.userInfo().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<Appcast::Item> readItem(QXmlStreamReader& xml)
{
    QString version;
    QString shortVersion;
    QString title;
    QString notes;
    QString enclosureUrl;
    QString enclosureVersion;
    QString enclosureShortVersion;
    QString length;
    QString type;
    QString signature;
    bool hasEnclosure = false;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, QLatin1String("title"))) {
            title = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (isSparkle(xml, QLatin1String("version"))) {
            version = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (isSparkle(xml, QLatin1String("shortVersionString"))) {
            shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (isSparkle(xml, QLatin1String("releaseNotesLink"))) {
            notes = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (isPlain(xml, QLatin1String("enclosure")) && !hasEnclosure) {
            hasEnclosure = true;
            const QXmlStreamAttributes attributes = xml.attributes();
            enclosureUrl = attributes.value(QLatin1String("url")).toString();
            length = attributes.value(QLatin1String("length")).toString();
            type = attributes.value(QLatin1String("type")).toString();
            signature = attributes.value(kSparkleNamespace, QLatin1String("edSignature")).toString();
            enclosureVersion = attributes.value(kSparkleNamespace, QLatin1String("version")).toString();
            enclosureShortVersion =
                attributes.value(kSparkleNamespace, QLatin1String("shortVersionString")).toString();
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        return std::nullopt;

    // The element form wins over the enclosure's attributes when a feed has both.
    const std::optional<QVersionNumber> number =
        parsedVersion(version.trimmed().isEmpty() ? enclosureVersion : version);
    const std::optional<QUrl> download = secureWebUrl(enclosureUrl);
    if (!number || !download)
        return std::nullopt;
    QUrl notesUrl;
    if (!notes.trimmed().isEmpty()) {
        const std::optional<QUrl> checked = secureWebUrl(notes);
        if (!checked)
            return std::nullopt;
        notesUrl = *checked;
    }

    Appcast::Item item;
    item.version = *number;
    item.displayVersion = cleaned(shortVersion, kMaxDisplayVersionLength);
    if (item.displayVersion.isEmpty())
        item.displayVersion = cleaned(enclosureShortVersion, kMaxDisplayVersionLength);
    if (item.displayVersion.isEmpty())
        item.displayVersion = item.version.toString();
    item.title = cleaned(title, kMaxTextLength);
    item.downloadUrl = *download;
    bool lengthOk = false;
    const qint64 declared = length.trimmed().toLongLong(&lengthOk);
    item.length = lengthOk && declared > 0 ? declared : 0;
    item.type = cleaned(type, kMaxTextLength);
    item.releaseNotesUrl = notesUrl;
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(signature.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (decoded)
        item.signature = *decoded;
    return item;
}

} // namespace

std::optional<Appcast::Item> Appcast::newestItem(const QByteArray& feed)
{
    if (feed.size() > kMaxFeedBytes)
        return std::nullopt;
    QXmlStreamReader xml(feed);

    // Only the prolog may hold a DTD, and a DTD may declare entities that expand without
    // bound: a feed with one is refused before its root element is read.
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD)
            return std::nullopt;
    }
    if (xml.hasError() || xml.tokenType() != QXmlStreamReader::StartElement
        || !isPlain(xml, QLatin1String("rss")))
        return std::nullopt;

    std::optional<Item> newest;
    int items = 0;
    while (xml.readNextStartElement()) {
        if (!isPlain(xml, QLatin1String("channel"))) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (!isPlain(xml, QLatin1String("item"))) {
                xml.skipCurrentElement();
                continue;
            }
            if (++items > kMaxItems)
                return std::nullopt;
            std::optional<Item> item = readItem(xml);
            if (item && (!newest || item->version > newest->version))
                newest = std::move(item);
        }
    }
    // A feed broken after its last item is not trusted either.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return std::nullopt;
    return newest;
}

} // namespace ow
