#include "ProcessHttpClient.h"

#include "FetchWire.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace ow {

namespace {

// Longer than any record's head ("b 9223372036854775807") and any end ("no-connection").
constexpr qsizetype kMaxHeadBytes = 24;
constexpr qint64 kMaxEndBytes = 32;

// The helper's output as it comes: whole records are taken off the front.
struct Reading {
    QByteArray pending;
    std::optional<QByteArray> end;
    std::optional<QByteArray> body;
    bool broken = false;

    void take(qint64 maxBody)
    {
        while (!broken) {
            const qsizetype newline = pending.indexOf('\n');
            if (newline < 0) {
                broken = pending.size() > kMaxHeadBytes;
                return;
            }
            const QByteArray head = pending.left(newline);
            bool numeric = false;
            const qint64 length = head.size() > 2 && head[1] == ' ' ? head.mid(2).toLongLong(&numeric) : -1;
            const char tag = head.isEmpty() ? '\0' : head[0];
            const qint64 limit = tag == FetchWire::kBody ? maxBody : tag == FetchWire::kEnd ? kMaxEndBytes : 0;
            // Heartbeats anywhere, the end once, the body once after it.
            const bool fits = tag == FetchWire::kHeartbeat || (tag == FetchWire::kEnd && !end)
                || (tag == FetchWire::kBody && end && !body);
            if (!numeric || length < 0 || length > limit || !fits) {
                broken = true;
                return;
            }
            if (pending.size() < newline + 1 + length)
                return;
            const QByteArray payload = pending.mid(newline + 1, length);
            pending.remove(0, newline + 1 + length);
            if (tag == FetchWire::kEnd)
                end = payload;
            else if (tag == FetchWire::kBody)
                body = payload;
        }
    }
};

// Killed and reaped at once, so that nothing of the request is left when this returns. Qt
// writes a download unnamed until it is complete where the file system allows (ext4, btrfs,
// xfs, tmpfs do), so nothing of it is left either.
void stop(QProcess* process)
{
    process->disconnect();
    if (process->state() == QProcess::NotRunning)
        return;
    process->kill();
    process->waitForFinished();
}

} // namespace

ProcessHttpClient::ProcessHttpClient(QString helperPath, QByteArray userAgent)
    : m_helperPath(std::move(helperPath))
    , m_userAgent(std::move(userAgent))
{
}

ProcessHttpClient::~ProcessHttpClient()
{
    for (QProcess* process : m_requests.findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        stop(process);
}

QString ProcessHttpClient::besideApplication()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/orbinwash-fetch");
}

void ProcessHttpClient::post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                             QObject* context, std::function<void(Response)> done)
{
    // The body may hold what the user wrote: never on the command line, where every
    // process of the machine may read it.
    run(QStringLiteral("post"), url, {}, body, timeout, true, kMaxResponseBytes, context, [done = std::move(done)](std::optional<Answer> answer) {
            const QList<QByteArray> end = answer ? answer->end.split(' ') : QList<QByteArray>();
            bool read = end.size() == 2 && (end[0] == "0" || end[0] == "1");
            Response response;
            response.status = read ? end[1].toInt(&read) : 0;
            response.delivered = read && end[0] == "1";
            if (!read || response.delivered != answer->body.has_value())
                return done(Response {});
            response.body = answer->body.value_or(QByteArray());
            done(std::move(response));
        });
}

void ProcessHttpClient::get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
                            std::function<void(Fetch, QByteArray)> done)
{
    run(QStringLiteral("get"), url, {QString::number(maxBytes)}, {}, timeout, false, maxBytes, context, [done = std::move(done)](std::optional<Answer> answer) {
            const std::optional<Fetch> end = answer ? FetchWire::fetchNamed(answer->end) : std::nullopt;
            if (!end || (*end == Fetch::Complete) != answer->body.has_value())
                done(Fetch::Failed, {});
            else
                done(*end, answer->body.value_or(QByteArray()));
        });
}

void ProcessHttpClient::download(const QUrl& url, const QString& path, qint64 maxBytes,
                                 std::chrono::milliseconds timeout, QObject* context, std::function<void(Fetch)> done)
{
    run(QStringLiteral("download"), url, {QString::number(maxBytes), path}, {}, timeout, false, 0, context, [done = std::move(done)](std::optional<Answer> answer) {
            const std::optional<Fetch> end = answer ? FetchWire::fetchNamed(answer->end) : std::nullopt;
            done(end && !answer->body ? *end : Fetch::Failed);
        });
}

void ProcessHttpClient::run(const QString& verb, const QUrl& url, const QStringList& more, const QByteArray& input,
                            std::chrono::milliseconds timeout, bool absolute, qint64 maxBody, QObject* context,
                            std::function<void(std::optional<Answer>)> done)
{
    auto* process = new QProcess(&m_requests);
    process->setProgram(m_helperPath);
    process->setArguments(QStringList{verb, url.toString(QUrl::FullyEncoded), QString::number(timeout.count()),
                                      QString::fromUtf8(m_userAgent)}
                          + more);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);

    // Told once, from the event loop once the helper is gone, never from its own signals;
    // nothing is told once context is gone.
    const auto conclude = [this, process, told = std::make_shared<bool>(false), context = QPointer(context),
                           done = std::move(done)](std::optional<Answer> answer) {
        if (std::exchange(*told, true))
            return;
        QMetaObject::invokeMethod(
            &m_requests,
            [process = QPointer(process), context, done, answer = std::move(answer)] {
                delete process.data();
                if (context)
                    done(answer);
            },
            Qt::QueuedConnection);
    };
    auto reading = std::make_shared<Reading>();
    QObject::connect(process, &QProcess::errorOccurred, process, [conclude](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            conclude(std::nullopt);
    });
    QObject::connect(process, &QProcess::finished, process,
                     [process, reading, maxBody, conclude](int code, QProcess::ExitStatus status) {
                         reading->pending += process->readAllStandardOutput();
                         reading->take(maxBody);
                         // What follows a fault stays pending.
                         const bool whole = status == QProcess::NormalExit && code == 0
                             && reading->pending.isEmpty() && reading->end;
                         conclude(whole ? std::optional(Answer {*reading->end, reading->body}) : std::nullopt);
                     });
    // A helper that hangs is stopped a little after the request would have ended by itself:
    // a post's whole run is bounded. A GET may go on as long as data keeps coming, which the
    // helper itself watches; here only its own silence is bounded, which its heartbeats break.
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    deadline->setInterval(timeout + kGrace);
    QObject::connect(deadline, &QTimer::timeout, process, [process, conclude] {
        stop(process);
        conclude(std::nullopt);
    });
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [process, reading, maxBody, absolute, deadline] {
                         reading->pending += process->readAllStandardOutput();
                         reading->take(maxBody);
                         if (reading->broken)
                             process->kill();
                         else if (!absolute)
                             deadline->start();
                     });
    // Nobody waits for the answer any more: a large download stops here.
    QObject::connect(context, &QObject::destroyed, process, [process] {
        stop(process);
        delete process;
    });

    process->start(QIODevice::ReadWrite);
    if (process->state() == QProcess::NotRunning)
        return;
    deadline->start();
    process->write(input);
    process->closeWriteChannel();
}

} // namespace ow
