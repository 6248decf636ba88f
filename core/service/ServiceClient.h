#pragma once

#include "CheckInReply.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace ow {

class Clock;
class HttpClient;
class UserDefaults;

// The companion service: checks in with the maker's server (bringing back the server's
// hold duration, the state of the support conversation and at most one message), keeps
// the short message history, and sends problem reports and replies. Everything runs on
// the main thread; the network work is asynchronous.
class ServiceClient : public QObject {
    Q_OBJECT
public:
    struct PendingMessage {
        qint64 id = 0;
        QString body;
    };
    struct ArchivedMessage {
        qint64 id = 0;
        QString body;
        QDateTime date;
        bool mine = false;
    };

    static constexpr int kHistoryLimit = 50;
    static constexpr std::chrono::seconds kCheckTimeout{8};
    static constexpr std::chrono::seconds kReportTimeout{10};
    static constexpr qint64 kClockTolerance = CheckInReply::kClockTolerance;

    ServiceClient(UserDefaults& defaults, HttpClient& http, Clock& clock, QUrl checkUrl, QUrl reportUrl,
                  QObject* parent = nullptr);

    // The installation's identifier: created on first use as an upper-case UUID text and
    // stored under "OWDeviceId"; a stored value is returned unchanged.
    QString deviceId();

    // One check-in. done runs on the main thread after the reply was applied or dropped,
    // whatever happened.
    void checkWithServer(std::function<void()> done = {});

    const std::optional<PendingMessage>& pendingMessage() const { return m_pendingMessage; }
    // "none" until a reply says otherwise; kept under "OWTicketState" across launches.
    const QString& ticketState() const { return m_ticketState; }

    // The message history, newest first.
    QList<ArchivedMessage> messageHistory() const;
    // The pending message has been shown: it joins the history and the shown list, is
    // acknowledged in later check-ins, and is no longer pending.
    void markMessageShown();
    // The user's own reply, stored at once.
    void archiveOwn(const QString& text);

    // Sends a problem report or reply; done(true) only for status 200 with "ok": true.
    void reportProblem(const QString& text, const std::optional<QString>& email,
                       std::function<void(bool)> done);

private:
    void applyCheckInReply(const QByteArray& body, const QString& nonce);
    void archive(qint64 id, const QString& body);

    UserDefaults& m_defaults;
    HttpClient& m_http;
    Clock& m_clock;
    QUrl m_checkUrl;
    QUrl m_reportUrl;
    std::optional<PendingMessage> m_pendingMessage;
    QString m_ticketState = QStringLiteral("none");
};

} // namespace ow
