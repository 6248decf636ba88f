#include "FakeHttpClient.h"

#include "Clock.h"

#include <QSaveFile>

#include <algorithm>

namespace ow {

namespace {

HttpClient::Fetch fetchOf(const FakeHttpClient::Answer& answer, qint64 maxBytes)
{
    if (answer.status == 0)
        return HttpClient::Fetch::NoConnection;
    if (answer.status == 404 || answer.status == 410)
        return HttpClient::Fetch::NotFound;
    if (answer.status >= 300 && answer.status < 400)
        return HttpClient::Fetch::Redirected;
    return answer.status == 200 && answer.body.size() <= maxBytes ? HttpClient::Fetch::Complete
                                                                  : HttpClient::Fetch::Failed;
}

} // namespace

FakeHttpClient::FakeHttpClient() = default;

FakeHttpClient::FakeHttpClient(Clock& clock)
    : m_clock(&clock)
{
}

FakeHttpClient::~FakeHttpClient() = default;

void FakeHttpClient::post(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                          QObject* context, std::function<void(Response)> done)
{
    take({Kind::Post, url, body, {}, 0, timeout}, context, [done = std::move(done)](const Answer& answer) {
        const bool delivered = answer.status != 0;
        done({delivered, answer.status, delivered ? answer.body : QByteArray()});
    });
}

void FakeHttpClient::get(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout, QObject* context,
                         std::function<void(Fetch, QByteArray)> done)
{
    take({Kind::Get, url, {}, {}, maxBytes, timeout}, context,
         [maxBytes, done = std::move(done)](const Answer& answer) {
             const Fetch end = fetchOf(answer, maxBytes);
             done(end, end == Fetch::Complete ? answer.body : QByteArray());
         });
}

void FakeHttpClient::download(const QUrl& url, const QString& path, qint64 maxBytes, std::chrono::milliseconds timeout,
                              QObject* context, std::function<void(Fetch)> done)
{
    take({Kind::Download, url, {}, path, maxBytes, timeout}, context,
         [path, maxBytes, done = std::move(done)](const Answer& answer) {
             Fetch end = fetchOf(answer, maxBytes);
             QSaveFile file(path);
             if (end == Fetch::Complete
                 && !(file.open(QIODevice::WriteOnly) && file.write(answer.body) == answer.body.size() && file.commit()))
                 end = Fetch::Failed;
             done(end);
         });
}

void FakeHttpClient::answer(const QUrl& url, Answer answer)
{
    m_answers.insert(url, std::move(answer));
}

void FakeHttpClient::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

QList<FakeHttpClient::Request> FakeHttpClient::requestsTo(const QUrl& url) const
{
    QList<Request> matching;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(matching),
                 [&url](const Request& request) { return request.url == url; });
    return matching;
}

const FakeHttpClient::Request& FakeHttpClient::held(qsizetype i) const
{
    return m_held.at(std::size_t(i)).request;
}

void FakeHttpClient::answerHeld(qsizetype i, const Answer& answer)
{
    Pending pending = std::move(m_held.at(std::size_t(i)));
    m_held.erase(m_held.begin() + i);
    if (pending.context)
        pending.reply(answer);
}

void FakeHttpClient::trickle(qsizetype i)
{
    m_held.at(std::size_t(i)).timeout.reset();
}

void FakeHttpClient::take(Request request, QObject* context, std::function<void(const Answer&)> reply)
{
    m_requests.append(request);
    const auto set = m_answers.constFind(request.url);
    const std::optional<Answer> answer = set != m_answers.cend() ? std::optional(*set)
        : m_handler                                              ? m_handler(request)
                                                                 : std::nullopt;
    if (answer) {
        reply(*answer);
        return;
    }
    Pending pending {std::move(request), context, std::move(reply), nullptr, m_nextId++};
    if (m_clock) {
        pending.timeout = m_clock->schedule(pending.request.timeout, false, [this, id = pending.id] {
            const auto it = std::find_if(m_held.cbegin(), m_held.cend(),
                                         [id](const Pending& held) { return held.id == id; });
            answerHeld(it - m_held.cbegin(), Answer {0});
        });
    }
    m_held.push_back(std::move(pending));
}

} // namespace ow
