#include "Appcast.h"

#include <QChar>
#include <QVersionNumber>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty() && url.userInfo().isEmpty();
}

// What the feed's text may never bring into a dialog.
bool isCleanLine(const QString& text, qsizetype maxLength)
{
    if (text.size() > maxLength || text != text.trimmed())
        return false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const QByteArray feed(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    const std::optional<ow::Appcast::Item> item = ow::Appcast::newestItem(feed);
    if (!item)
        return 0;
    const QList<int> segments = item->version.segments();
    const bool versionOk = !segments.isEmpty() && segments.size() <= 8
        && std::all_of(segments.cbegin(), segments.cend(), [](int s) { return s >= 0 && s <= 999999999; });
    const bool linksOk = isWebUrl(item->downloadUrl)
        && (item->releaseNotesUrl.isEmpty() || isWebUrl(item->releaseNotesUrl));
    const bool textOk = !item->displayVersion.isEmpty() && isCleanLine(item->displayVersion, 64)
        && isCleanLine(item->title, 200) && isCleanLine(item->type, 200);
    if (feed.size() > ow::Appcast::kMaxFeedBytes || !versionOk || !linksOk || !textOk || item->length < 0)
        std::abort();
    return 0;
}
