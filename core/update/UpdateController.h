#pragma once

#include "Appcast.h"
#include "Clock.h"
#include "HttpClient.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVersionNumber>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace ow {

// Keeps OrbinWash aware of its newer versions. It checks the appcast feed when the user
// asks and, while automatic checks are on, at most once per interval in the background;
// the time of the last check survives a restart. A newer version is announced with its
// release notes link; its package is saved to the downloads folder first with automatic
// downloads on, or when the user asks for it, and is kept only when its Ed25519
// signature verifies. It never installs or runs anything. Both switches live in its own
// settings file. It is running as soon as it is constructed.
class UpdateController : public QObject {
    Q_OBJECT
public:
    enum class Outcome { UpToDate, UpdateAvailable, Failed };
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

    bool isChecking() const { return m_checking; }

    // The name a download from url is saved under: the last segment of its path, unable
    // to leave the downloads folder or to hide itself.
    static QString safeFileName(const QUrl& url);

public slots:
    // A check whose result is always shown, also when there is nothing new.
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
    void fail(const QString& reason);
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
    std::unique_ptr<Timer> m_backgroundTimer;

    // The check under way.
    bool m_checking = false;
    bool m_userVisible = false;
    std::optional<Appcast::Item> m_found;
    QString m_downloadedPath;
    // Why the package was not saved, in paragraphs; empty while nothing went wrong.
    QStringList m_downloadProblem;
    // The user pressed Download: the result is theirs to see.
    bool m_downloadRequested = false;
    // Why the check failed, shown when the user sees the failure.
    QString m_failure;
};

} // namespace ow
