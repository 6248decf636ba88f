#pragma once

#include "HttpClient.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

namespace ow {

class Clock;
class Timer;

// HttpClient for tests. It records every request and answers it the way the test says:
// at once, from an answer set for its address or from a handler, or later, when the test
// answers a request it held. With a clock, a held request ends as unanswered once its
// timeout has passed on that clock. An answer for a destroyed context goes nowhere.
class FakeHttpClient final : public HttpClient {
public:
    enum class Kind { Post, Get, Download };

    struct Request {
        Kind kind = Kind::Post;
        QUrl url;
        QByteArray body;  // what a post sent
        QString path;     // where a download goes
        qint64 maxBytes = 0;
        std::chrono::milliseconds timeout{};
    };

    // What the server did. Status 0: nothing came back, as with no connection or a
    // timeout. A GET counts as Complete for 200 with a body within its limit, NotFound for
    // 404 and 410, Redirected for a redirect (none is followed), Failed otherwise; a
    // Complete download writes the body to its path.
    struct Answer {
        int status = 200;
        QByteArray body = {};
    };

    // nullopt holds the request.
    using Handler = std::function<std::optional<Answer>(const Request&)>;

    FakeHttpClient();
    explicit FakeHttpClient(Clock& clock);
    ~FakeHttpClient() override;

    void post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout, QObject* context,
              std::function<void(Response)> done) override;
    void get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
             std::function<void(Fetch, QByteArray)> done) override;
    void download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                  QObject* context, std::function<void(Fetch)> done) override;

    // Requests to url get this answer from now on; it comes before the handler's.
    void answer(const QUrl& url, Answer answer);
    // Answers requests that have no answer set; without one, they are held.
    void setHandler(Handler handler);

    // Every request so far, oldest first.
    const QList<Request>& requests() const { return m_requests; }
    QList<Request> requestsTo(const QUrl& url) const;

    qsizetype heldCount() const { return qsizetype(m_held.size()); }
    const Request& held(qsizetype i) const;
    // Answers the i-th held request, which is then no longer held.
    void answerHeld(qsizetype i, const Answer& answer);
    // The i-th held request's answer comes a byte now and then: it is never silent for
    // its timeout, and goes on until answered.
    void trickle(qsizetype i);

private:
    struct Pending {
        Request request;
        QPointer<QObject> context;
        std::function<void(const Answer&)> reply;
        std::unique_ptr<Timer> timeout;
        quint64 id = 0;
    };

    void take(Request request, QObject* context, std::function<void(const Answer&)> reply);

    Clock* m_clock = nullptr;
    QList<Request> m_requests;
    QHash<QUrl, Answer> m_answers;
    Handler m_handler;
    std::vector<Pending> m_held;
    quint64 m_nextId = 1;
};

} // namespace ow
