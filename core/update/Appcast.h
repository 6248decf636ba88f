#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

#include <optional>

namespace ow {

// Reads an appcast: an RSS 2.0 feed with the sparkle namespace, one <item> per release.
// The feed comes from the network, so anything odd about it makes it unusable rather
// than half-read: a malformed or oversized document, a DTD, too many items.
class Appcast {
public:
    static constexpr qsizetype kMaxFeedBytes = 1 << 20;
    static constexpr int kMaxItems = 1000;

    struct Item {
        QVersionNumber version;
        // What users are shown: the short version string, or the version itself.
        QString displayVersion;
        QString title;
        QUrl downloadUrl;
        // Declared size of the download in bytes; 0 when the feed does not say.
        qint64 length = 0;
        QString type;
        // Empty when the feed gives none.
        QUrl releaseNotesUrl;
        // The Ed25519 signature of the download (sparkle:edSignature, base64); empty when
        // the feed gives none or not as base64.
        QByteArray signature;
    };

    // The item with the highest version among the valid ones, or nothing when the feed
    // is unusable or has no valid item. Items without a version or whose links are not
    // https are skipped.
    static std::optional<Item> newestItem(const QByteArray& feed);
};

} // namespace ow
