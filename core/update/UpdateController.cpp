#include "UpdateController.h"

#include "Alert.h"
#include "Localizer.h"
#include "UpdateSignature.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace ow {

namespace {

constexpr auto kChecksKey = QLatin1String("automaticallyChecks");
constexpr auto kDownloadsKey = QLatin1String("automaticallyDownloads");
constexpr auto kLastCheckKey = QLatin1String("lastCheck");
constexpr qsizetype kMaxFileNameBytes = 200;
// Numbered names tried before a package is given up as unsaveable.
constexpr int kMaxNumberedNames = 100;

bool isWebUrl(const QUrl& url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Where the package went, the path on a line of its own.
QString savedTo(const QString& path)
{
    return L("update.saved_to") + QLatin1Char('\n') + Alert::unbroken(QDir::toNativeSeparators(path));
}

// Renames from to to unless something is at to: never replaces a file, even one that
// appears meanwhile. Filesystems that cannot say so at once get a hard link instead.
bool moveWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL || ::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
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

UpdateController::~UpdateController()
{
    endTransfer();
}

void UpdateController::setUpdateCheckInterval(int seconds)
{
    m_interval = std::max(seconds, kMinimumCheckInterval);
    scheduleBackgroundCheck();
}

void UpdateController::holdBackgroundChecks(bool held)
{
    m_held = held;
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
    // Keep the end, where the extension is, and room for a number.
    while (name.toUtf8().size() > kMaxFileNameBytes)
        name.remove(0, name.front().isHighSurrogate() ? 2 : 1);
    name = name.trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name = name.mid(1).trimmed();
    return name.isEmpty() ? QStringLiteral("OrbinWash-update") : name;
}

QString UpdateController::numberedName(const QString& name, int n)
{
    if (n == 0)
        return name;
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A tarball's extension is both of its last two.
    if (dot > 0 && name.left(dot).endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
        dot -= 4;
    if (dot <= 0)
        dot = name.size();
    return name.left(dot) + QStringLiteral(" (%1)").arg(n) + name.mid(dot);
}

void UpdateController::checkForUpdates()
{
    // One under way, maybe in the background, now reports to the user; nothing new starts.
    if (m_checking) {
        m_userVisible = true;
        showProgress();
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
    if (m_held || !automaticallyChecksForUpdates())
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
    QObject* transfer = startTransfer();
    // The transfer's own timeout only notices silence; a feed may trickle without end.
    m_deadline = m_clock.schedule(kFeedDeadline, false, [this] { fail(L("update.too_slow")); });
    showProgress();
    m_http.get(m_feedUrl, Appcast::kMaxFeedBytes, kTransferTimeout, transfer,
               [this](Fetch end, const QByteArray& feed) { feedArrived(end, feed); });
}

void UpdateController::feedArrived(Fetch end, const QByteArray& feed)
{
    endTransfer();
    std::optional<Appcast::Item> item = end == Fetch::Complete ? Appcast::newestItem(feed) : std::nullopt;
    if (!item) {
        // Only a feed that never came is a matter of the user's connection.
        fail(end == Fetch::NoConnection ? L("update.failed") : L("update.feed_unreadable"));
    } else if (item->version <= m_currentVersion) {
        finish(Outcome::UpToDate);
    } else if (item->signature.size() != UpdateSignature::kSignatureBytes) {
        // A package nobody signed is never fetched, let alone offered.
        fail(L("update.unsigned", item->displayVersion), L("update.unverified_title"));
    } else {
        m_found = std::move(item);
        if (automaticallyDownloadsUpdates())
            startDownload();
        else
            announce();
    }
}

QString UpdateController::savedCopy(const QString& name) const
{
    const QDir folder(m_downloadsFolder);
    for (int n = 0; n < kMaxNumberedNames; ++n) {
        const QFileInfo file(folder.filePath(numberedName(name, n)));
        if (!file.exists())
            return {};
        if (file.isFile() && file.size() == m_found->length
            && UpdateSignature::verifies(m_publicKey, m_found->signature, file.filePath()))
            return file.filePath();
    }
    return {};
}

QString UpdateController::keep(const QString& path, const QString& name) const
{
    const QDir folder(m_downloadsFolder);
    for (int n = 0; n < kMaxNumberedNames; ++n) {
        const QString target = folder.filePath(numberedName(name, n));
        if (moveWithoutReplacing(path, target))
            return target;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

void UpdateController::startDownload()
{
    const QString name = safeFileName(m_found->downloadUrl);
    const qint64 declared = m_found->length;
    // Saved and verified by an earlier check: each background check would fetch it again
    // otherwise.
    if (declared > 0) {
        m_downloadedPath = savedCopy(name);
        if (!m_downloadedPath.isEmpty()) {
            downloadEnded();
            return;
        }
    }
    // In a folder of its own inside the downloads folder, so that it moves to its place at
    // once, and nothing of it stays behind when it is not kept.
    if (declared <= kMaxDownloadBytes && QDir(m_downloadsFolder).mkpath(QStringLiteral(".")))
        m_incoming = std::make_unique<QTemporaryDir>(QDir(m_downloadsFolder).filePath(QStringLiteral(".OrbinWash-")));
    if (!m_incoming || !m_incoming->isValid()) {
        m_incoming.reset();
        m_downloadProblem = QStringList{L("update.not_saved")};
        downloadEnded();
        return;
    }
    const QString path = m_incoming->filePath(name);
    QObject* transfer = startTransfer();
    showProgress();
    // Never more than the feed announced, when it announced a size.
    m_http.download(m_found->downloadUrl, path, declared > 0 ? declared : kMaxDownloadBytes, kTransferTimeout,
                    transfer, [this, path](Fetch end) { downloadArrived(end, path); });
}

void UpdateController::downloadArrived(Fetch end, const QString& path)
{
    endTransfer();
    // A package shorter than the feed said is not the one it announced.
    if (end == Fetch::Complete && m_found->length > 0 && QFileInfo(path).size() != m_found->length)
        end = Fetch::Failed;
    if (end == Fetch::Complete && !UpdateSignature::verifies(m_publicKey, m_found->signature, path)) {
        m_incoming.reset();
        fail(L("update.unverified"), L("update.unverified_title"));
        return;
    }
    if (end == Fetch::Complete) {
        m_downloadedPath = keep(path, safeFileName(m_found->downloadUrl));
        if (m_downloadedPath.isEmpty())
            m_downloadProblem = QStringList{L("update.not_saved")};
    } else if (end == Fetch::NotFound) {
        m_downloadProblem = QStringList{L("update.download_not_found")};
        m_offerAddress = false;
    } else if (end == Fetch::Redirected) {
        // A browser would follow where it was sent, and check no signature.
        m_downloadProblem = QStringList{L("update.download_redirected")};
        m_offerAddress = false;
    } else if (end == Fetch::NoConnection) {
        m_downloadProblem = QStringList{L("update.not_saved"), L("update.failed")};
    } else {
        m_downloadProblem = QStringList{L("update.not_saved")};
    }
    m_incoming.reset();
    downloadEnded();
}

void UpdateController::downloadEnded()
{
    if (m_downloadRequested)
        showDownloadResult();
    else
        announce();
}

QObject* UpdateController::startTransfer()
{
    m_transfer = std::make_unique<QObject>();
    return m_transfer.get();
}

// Called from the transfer's own answer, after which the client touches its context no more.
void UpdateController::endTransfer()
{
    m_transfer.reset();
    m_deadline.reset();
    if (m_progress) {
        // Hidden for good: the dialog would show itself again a few seconds after it was
        // made, during an alert for instance. Deleted later: its own Cancel button may
        // have brought us here.
        m_progress->reset();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

void UpdateController::showProgress()
{
    if (!m_userVisible || !m_transfer)
        return;
    if (!m_progress) {
        m_progress = new QProgressDialog;
        // The version it names comes from the feed.
        auto* label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        m_progress->setLabel(label);
        m_progress->setWindowTitle(QApplication::applicationDisplayName());
        m_progress->setMinimumWidth(m_progress->fontMetrics().averageCharWidth() * 50);
        m_progress->setRange(0, 0);
        m_progress->setCancelButtonText(L("common.cancel"));
        connect(m_progress, &QProgressDialog::canceled, this, &UpdateController::cancel);
    }
    m_progress->setLabelText(m_found ? L("update.downloading", m_found->displayVersion) : L("update.checking"));
    m_progress->show();
    m_progress->raise();
    m_progress->activateWindow();
}

void UpdateController::cancel()
{
    if (!m_transfer)
        return;
    endTransfer();
    m_incoming.reset();
    finish(Outcome::Cancelled);
}

void UpdateController::fail(const QString& reason, const QString& title)
{
    endTransfer();
    m_failureTitle = title.isEmpty() ? L("update.failed_title") : title;
    m_failure = reason;
    finish(Outcome::Failed);
}

void UpdateController::finish(Outcome outcome)
{
    if (outcome == Outcome::UpToDate && m_userVisible)
        Alert::run(nullptr, QMessageBox::Information, L("update.up_to_date_title"),
                   L("update.up_to_date", m_currentVersion.toString()), {L("common.ok")});
    else if (outcome == Outcome::Failed && m_userVisible)
        Alert::run(nullptr, QMessageBox::Warning, m_failureTitle, m_failure, {L("common.ok")});
    m_checking = false;
    m_userVisible = false;
    m_found.reset();
    m_downloadedPath.clear();
    m_downloadProblem.clear();
    m_offerAddress = true;
    m_downloadRequested = false;
    m_failureTitle.clear();
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
        paragraphs << savedTo(m_downloadedPath);
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
        m_offerAddress = true;
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
                                      savedTo(m_downloadedPath), {L("update.show_in_folder"), L("common.ok")});
        if (answer == Alert::FirstButton)
            m_openUrl(QUrl::fromLocalFile(m_downloadsFolder));
    } else {
        QStringList paragraphs = m_downloadProblem;
        // Fully encoded, so that a look-alike address shows what it really is.
        if (m_offerAddress)
            paragraphs << L("update.get_it", m_found->downloadUrl.toString(QUrl::FullyEncoded));
        Alert::run(nullptr, QMessageBox::Warning, L("update.available_title"), paragraphs.join(QLatin1String("\n\n")),
                   {L("common.ok")});
    }
    finish(Outcome::UpdateAvailable);
}

} // namespace ow
