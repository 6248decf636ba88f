#pragma once

#include "Appcast.h"
#include "Clock.h"
#include "HttpClient.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVersionNumber>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QProgressDialog;
class QSettings;
class QTemporaryDir;

namespace ow {

// Keeps OrbinWash aware of its newer versions. It checks the appcast feed when the user
// asks and, while automatic checks are on and not held, at most once per interval in the
// background; the time of the last check survives a restart. A check the user asked for
// shows that it runs, with a Cancel button. A newer version is announced with its release
// notes link; its package is fetched first with automatic downloads on, or when the user
// asks for it, and lands in the downloads folder only once its length and Ed25519
// signature are right, under a name no file has yet. It never installs or runs anything.
// Both switches live in its own settings file. It is running as soon as it is constructed.
class UpdateController : public QObject {
    Q_OBJECT
public:
    enum class Outcome { UpToDate, UpdateAvailable, Failed, Cancelled };
    Q_ENUM(Outcome)

    // Empty fields take the built-in defaults.
    struct Setup {
        // $XDG_CONFIG_HOME/OrbinWash/updates.ini
        QString settingsPath;
        // The version this build was made as.
        QVersionNumber currentVersion;
        // The OW_UPDATE_FEED_URL this build was configured with.
        QUrl feedUrl;
        // The user's downloads folder.
        QString downloadsFolder;
        // QDesktopServices::openUrl, to show the downloads folder.
        std::function<bool(const QUrl&)> openUrl;
        // The raw Ed25519 key packages must be signed for; the OW_UPDATE_PUBLIC_KEY this
        // build was configured with.
        QByteArray publicKey;
    };

    static constexpr int kDefaultCheckInterval = 24 * 60 * 60;
    static constexpr int kMinimumCheckInterval = 60;
    // A transfer that receives nothing for this long is given up.
    static constexpr std::chrono::seconds kTransferTimeout{15};
    // The feed is small: one that takes longer than this in all, however it trickles, is
    // given up too.
    static constexpr std::chrono::seconds kFeedDeadline{30};
    // The least wait before a background check, so that starting up stays quick.
    static constexpr std::chrono::seconds kStartDelay{10};
    static constexpr qint64 kMaxDownloadBytes = qint64(512) << 20;

    UpdateController(Clock& clock, HttpClient& http, QObject* parent = nullptr);
    UpdateController(Clock& clock, HttpClient& http, Setup setup, QObject* parent = nullptr);
    ~UpdateController() override;

    // The application reaches the schedule and the switches through the updater; here
    // the controller plays both parts.
    UpdateController& updater() { return *this; }

    // Seconds between background checks; values below a minute count as a minute.
    int updateCheckInterval() const { return m_interval; }
    void setUpdateCheckInterval(int seconds);

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool on);

    // While held, no background check is scheduled; the shell holds them until the user has
    // answered the first launch's question. A check the user asks for runs all the same.
    void holdBackgroundChecks(bool held);

    bool isChecking() const { return m_checking; }

    // The name a download from url is saved under: the last segment of its path, unable
    // to leave the downloads folder or to hide itself.
    static QString safeFileName(const QUrl& url);
    // name with " (n)" before its extension, as browsers name a second copy; name itself
    // for 0.
    static QString numberedName(const QString& name, int n);

public slots:
    // A check whose result is always shown, also when there is nothing new. While a check
    // runs, it starts nothing: the one under way reports to the user.
    void checkForUpdates();

signals:
    // After the check's alert, if it showed one, has been answered.
    void checkFinished(ow::UpdateController::Outcome outcome);

private:
    using Fetch = HttpClient::Fetch;

    void backgroundCheckDue();
    void beginCheck(bool userVisible);
    void scheduleBackgroundCheck();
    void feedArrived(Fetch end, const QByteArray& feed);
    void startDownload();
    void downloadArrived(Fetch end, const QString& path);
    void downloadEnded();
    // A package this check would fetch, already saved under its name or a numbered one.
    QString savedCopy(const QString& name) const;
    // Moves a verified package into the downloads folder, never over a file that is there.
    QString keep(const QString& path, const QString& name) const;
    // The context of a new request, which ends it when it goes.
    QObject* startTransfer();
    void endTransfer();
    void showProgress();
    void cancel();
    void fail(const QString& reason, const QString& title = {});
    void finish(Outcome outcome);
    void announce();
    void showDownloadResult();

    Clock& m_clock;
    HttpClient& m_http;
    std::unique_ptr<QSettings> m_settings;
    QVersionNumber m_currentVersion;
    QUrl m_feedUrl;
    QString m_downloadsFolder;
    std::function<bool(const QUrl&)> m_openUrl;
    QByteArray m_publicKey;
    int m_interval = kDefaultCheckInterval;
    bool m_held = false;
    std::unique_ptr<Timer> m_backgroundTimer;

    // The check under way.
    bool m_checking = false;
    bool m_userVisible = false;
    std::unique_ptr<QObject> m_transfer;
    std::unique_ptr<Timer> m_deadline;
    QPointer<QProgressDialog> m_progress;
    // A folder of its own in the downloads folder, where the package comes in; it goes,
    // with whatever is in it, once the package is kept or given up.
    std::unique_ptr<QTemporaryDir> m_incoming;
    std::optional<Appcast::Item> m_found;
    QString m_downloadedPath;
    // Why the package was not saved, in paragraphs; empty while nothing went wrong.
    QStringList m_downloadProblem;
    // Whether the package's address is worth a try by hand: not after it was missing or
    // sent somewhere it may not go.
    bool m_offerAddress = true;
    // The user pressed Download: the result is theirs to see.
    bool m_downloadRequested = false;
    // Why the check failed, shown when the user sees the failure.
    QString m_failureTitle;
    QString m_failure;
};

} // namespace ow
