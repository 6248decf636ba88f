#include "UpdateController.h"

#include "Alert.h"
#include "Localizer.h"
#include "UpdateSignature.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace ow {

namespace {

constexpr auto kChecksKey = QLatin1String("automaticallyChecks");
constexpr auto kDownloadsKey = QLatin1String("automaticallyDownloads");
constexpr auto kLastCheckKey = QLatin1String("lastCheck");
constexpr qsizetype kMaxFileNameBytes = 200;

bool isWebUrl(const QUrl& url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

UpdateController::UpdateController(Clock& clock, HttpClient& http, QObject* parent)
    : UpdateController(clock, http, Setup{}, parent)
{
}

UpdateController::UpdateController(Clock& clock, HttpClient& http, Setup setup, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_http(http)
    , m_settings(std::make_unique<QSettings>(
          setup.settingsPath.isEmpty()
              ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                    + QLatin1String("/OrbinWash/updates.ini")
              : setup.settingsPath,
          QSettings::IniFormat))
    , m_currentVersion(setup.currentVersion.isNull() ? QVersionNumber::fromString(QLatin1String(OW_VERSION))
                                                     : setup.currentVersion)
    , m_feedUrl(setup.feedUrl.isEmpty() ? QUrl(QStringLiteral(OW_UPDATE_FEED_URL)) : setup.feedUrl)
    , m_downloadsFolder(setup.downloadsFolder.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                            : setup.downloadsFolder)
    , m_openUrl(setup.openUrl ? std::move(setup.openUrl)
                              : [](const QUrl& url) { return QDesktopServices::openUrl(url); })
    , m_publicKey(setup.publicKey.isEmpty() ? QByteArray::fromBase64(QByteArrayLiteral(OW_UPDATE_PUBLIC_KEY))
                                            : setup.publicKey)
{
    scheduleBackgroundCheck();
}

UpdateController::~UpdateController() = default;

void UpdateController::setUpdateCheckInterval(int seconds)
{
    m_interval = std::max(seconds, kMinimumCheckInterval);
    scheduleBackgroundCheck();
}

bool UpdateController::automaticallyChecksForUpdates() const
{
    return m_settings->value(kChecksKey, true).toBool();
}

void UpdateController::setAutomaticallyChecksForUpdates(bool on)
{
    m_settings->setValue(kChecksKey, on);
    m_settings->sync();
    scheduleBackgroundCheck();
}

bool UpdateController::automaticallyDownloadsUpdates() const
{
    return m_settings->value(kDownloadsKey, false).toBool();
}

void UpdateController::setAutomaticallyDownloadsUpdates(bool on)
{
    m_settings->setValue(kDownloadsKey, on);
    m_settings->sync();
}

QString UpdateController::safeFileName(const QUrl& url)
{
    QString name = url.fileName(QUrl::FullyDecoded);
    for (QChar& c : name) {
        const QChar::Category category = c.category();
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || category == QChar::Other_Control
            || category == QChar::Other_Format)
            c = QLatin1Char('_');
    }
    // Keep the end, where the extension is, and room for the temporary suffix of a save.
    while (name.toUtf8().size() > kMaxFileNameBytes)
        name.remove(0, name.front().isHighSurrogate() ? 2 : 1);
    name = name.trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name = name.mid(1).trimmed();
    return name.isEmpty() ? QStringLiteral("OrbinWash-update") : name;
}

void UpdateController::checkForUpdates()
{
    // A background check under way now reports to the user.
    if (m_checking) {
        m_userVisible = true;
        return;
    }
    beginCheck(true);
    scheduleBackgroundCheck();
}

void UpdateController::backgroundCheckDue()
{
    if (!m_checking)
        beginCheck(false);
    scheduleBackgroundCheck();
}

void UpdateController::scheduleBackgroundCheck()
{
    m_backgroundTimer.reset();
    if (!automaticallyChecksForUpdates())
        return;
    const QDateTime now = m_clock.wallNow();
    const QDateTime last =
        QDateTime::fromString(m_settings->value(kLastCheckKey).toString(), Qt::ISODateWithMs);
    std::chrono::milliseconds wait = kStartDelay;
    if (last.isValid()) {
        // A last check in the future means the clock was set back: count from now.
        const QDateTime due = std::min(last, now).addSecs(m_interval);
        wait = std::max(wait, std::chrono::milliseconds(now.msecsTo(due)));
    }
    m_backgroundTimer = m_clock.schedule(wait, false, [this] { backgroundCheckDue(); });
}

void UpdateController::beginCheck(bool userVisible)
{
    m_checking = true;
    m_userVisible = userVisible;
    // Counted when it starts, so that a failing check does not repeat at once.
    m_settings->setValue(kLastCheckKey, m_clock.wallNow().toUTC().toString(Qt::ISODateWithMs));
    m_settings->sync();
    if (!isWebUrl(m_feedUrl)) {
        fail(L("update.feed_unreadable"));
        return;
    }
    m_http.get(m_feedUrl, Appcast::kMaxFeedBytes, kTransferTimeout, this,
               [this](Fetch end, const QByteArray& feed) { feedArrived(end, feed); });
}

void UpdateController::feedArrived(Fetch end, const QByteArray& feed)
{
    std::optional<Appcast::Item> item = end == Fetch::Complete ? Appcast::newestItem(feed) : std::nullopt;
    if (!item) {
        // Only a feed that never came is a matter of the user's connection.
        fail(end == Fetch::NoConnection ? L("update.failed") : L("update.feed_unreadable"));
    } else if (item->version <= m_currentVersion) {
        finish(Outcome::UpToDate);
    } else if (item->signature.size() != UpdateSignature::kSignatureBytes) {
        // A package nobody signed is never fetched, let alone offered.
        fail(L("update.unverified"));
    } else {
        m_found = std::move(item);
        if (automaticallyDownloadsUpdates())
            startDownload();
        else
            announce();
    }
}

void UpdateController::startDownload()
{
    const QDir folder(m_downloadsFolder);
    const QString path = folder.filePath(safeFileName(m_found->downloadUrl));
    const qint64 declared = m_found->length;
    // Saved and verified by an earlier check: each background check would fetch it again
    // otherwise.
    if (declared > 0 && QFileInfo(path).isFile() && QFileInfo(path).size() == declared
        && UpdateSignature::verifies(m_publicKey, m_found->signature, path)) {
        m_downloadedPath = path;
        downloadEnded();
        return;
    }
    if (declared > kMaxDownloadBytes || !folder.mkpath(QStringLiteral("."))) {
        m_downloadProblem = QStringList{L("update.not_saved")};
        downloadEnded();
        return;
    }
    // Never more than the feed announced, when it announced a size.
    m_http.download(m_found->downloadUrl, path, declared > 0 ? declared : kMaxDownloadBytes, kTransferTimeout, this,
                    [this, path](Fetch end) { downloadArrived(end, path); });
}

void UpdateController::downloadArrived(Fetch end, const QString& path)
{
    // A package shorter than the feed said is not the one it announced, and a package the
    // publisher did not sign is never left where the user might open it.
    if (end == Fetch::Complete && m_found->length > 0 && QFileInfo(path).size() != m_found->length) {
        QFile::remove(path);
        end = Fetch::Failed;
    }
    if (end == Fetch::Complete && !UpdateSignature::verifies(m_publicKey, m_found->signature, path)) {
        QFile::remove(path);
        fail(L("update.unverified"));
        return;
    }
    if (end == Fetch::Complete) {
        m_downloadedPath = path;
    } else if (end == Fetch::NotFound) {
        m_downloadProblem = QStringList{L("update.download_not_found")};
    } else if (end == Fetch::NoConnection) {
        m_downloadProblem = QStringList{L("update.not_saved"), L("update.failed")};
    } else {
        m_downloadProblem = QStringList{L("update.not_saved")};
    }
    downloadEnded();
}

void UpdateController::downloadEnded()
{
    if (m_downloadRequested)
        showDownloadResult();
    else
        announce();
}

void UpdateController::fail(const QString& reason)
{
    m_failure = reason;
    finish(Outcome::Failed);
}

void UpdateController::finish(Outcome outcome)
{
    if (outcome == Outcome::UpToDate && m_userVisible)
        Alert::run(nullptr, QMessageBox::Information, L("update.up_to_date_title"),
                   L("update.up_to_date", m_currentVersion.toString()), {L("common.ok")});
    else if (outcome == Outcome::Failed && m_userVisible)
        Alert::run(nullptr, QMessageBox::Warning, L("update.failed_title"), m_failure, {L("common.ok")});
    m_checking = false;
    m_userVisible = false;
    m_found.reset();
    m_downloadedPath.clear();
    m_downloadProblem.clear();
    m_downloadRequested = false;
    m_failure.clear();
    emit checkFinished(outcome);
}

void UpdateController::announce()
{
    const Appcast::Item& item = *m_found;
    QStringList paragraphs{L("update.available", item.displayVersion, m_currentVersion.toString())};
    // Fully encoded, so that a look-alike address shows what it really is.
    if (!item.releaseNotesUrl.isEmpty())
        paragraphs << L("update.release_notes", item.releaseNotesUrl.toString(QUrl::FullyEncoded));
    const bool saved = !m_downloadedPath.isEmpty();
    if (saved)
        paragraphs << L("update.saved_to", QDir::toNativeSeparators(m_downloadedPath));
    paragraphs << m_downloadProblem;
    const QStringList buttons{saved ? L("update.show_in_folder") : L("update.download"), L("common.later")};
    const int answer = Alert::run(nullptr, QMessageBox::Information, L("update.available_title"),
                                  paragraphs.join(QLatin1String("\n\n")), buttons);
    if (answer == Alert::FirstButton && !saved) {
        // Fetched here rather than by a browser, which might not be set up, and which
        // would not check the signature; the user is told where the package went.
        m_downloadRequested = true;
        m_userVisible = true;
        m_downloadProblem.clear();
        startDownload();
        return;
    }
    if (answer == Alert::FirstButton)
        m_openUrl(QUrl::fromLocalFile(m_downloadsFolder));
    finish(Outcome::UpdateAvailable);
}

void UpdateController::showDownloadResult()
{
    if (!m_downloadedPath.isEmpty()) {
        const int answer = Alert::run(nullptr, QMessageBox::Information, L("update.saved_title"),
                                      L("update.saved_to", QDir::toNativeSeparators(m_downloadedPath)),
                                      {L("update.show_in_folder"), L("common.ok")});
        if (answer == Alert::FirstButton)
            m_openUrl(QUrl::fromLocalFile(m_downloadsFolder));
    } else {
        // Fully encoded, so that a look-alike address shows what it really is.
        const QStringList paragraphs = m_downloadProblem
            + QStringList{L("update.get_it", m_found->downloadUrl.toString(QUrl::FullyEncoded))};
        Alert::run(nullptr, QMessageBox::Warning, L("update.available_title"), paragraphs.join(QLatin1String("\n\n")),
                   {L("common.ok")});
    }
    finish(Outcome::UpdateAvailable);
}

} // namespace ow
