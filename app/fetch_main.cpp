// orbinwash-fetch: one web request for OrbinWash, in a process that ends with it, so that
// the network and TLS stack is loaded only while a request runs, never kept in OrbinWash.
// The command line and the answer on stdout are described in FetchWire.h.
#include "FetchWire.h"
#include "QtHttpClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <optional>

#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using ow::FetchWire;

// Unbuffered: a heartbeat must leave at once.
void writeRecord(QFile& out, char tag, const QByteArray& payload = {})
{
    out.write(tag + QByteArrayLiteral(" ") + QByteArray::number(payload.size()) + '\n' + payload);
}

int usage()
{
    std::fputs("usage: orbinwash-fetch post <url> <timeout ms> <user agent>  (body on stdin)\n"
               "       orbinwash-fetch get <url> <timeout ms> <user agent> <max bytes>\n"
               "       orbinwash-fetch download <url> <timeout ms> <user agent> <max bytes> <path>\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    // Whatever the app held open without close-on-exec (a lock's lease, an X connection)
    // is not this helper's to keep alive, and the request is nobody's once the app is gone.
    ::close_range(3, ~0U, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);

    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString verb = args.value(1);
    const qsizetype count = verb == u"post"_s ? 5 : verb == u"get"_s ? 6 : verb == u"download"_s ? 7 : 0;
    const QUrl url(args.value(2), QUrl::StrictMode);
    bool timeoutRead = false;
    bool maxRead = count == 5;
    const std::chrono::milliseconds timeout(args.value(3).toLongLong(&timeoutRead));
    const qint64 maxBytes = count > 5 ? args.value(5).toLongLong(&maxRead) : 0;
    if (args.size() != count || !url.isValid() || !timeoutRead || !maxRead)
        return usage();

    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    writeRecord(out, FetchWire::kHeartbeat);
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, &out, [&out] { writeRecord(out, FetchWire::kHeartbeat); });
    heartbeat.start(FetchWire::kHeartbeatInterval);

    ow::QtHttpClient http(args.value(4).toUtf8());
    QObject context;
    const auto end = [&out](const QByteArray& how, const std::optional<QByteArray>& body) {
        writeRecord(out, FetchWire::kEnd, how);
        if (body)
            writeRecord(out, FetchWire::kBody, *body);
        QCoreApplication::exit(0);
    };
    if (verb == u"post"_s) {
        QFile in;
        if (!in.open(STDIN_FILENO, QIODevice::ReadOnly))
            return 1;
        http.post(url, in.readAll(), timeout, &context, [&end](ow::HttpClient::Response response) {
            end(QByteArray::number(response.delivered ? 1 : 0) + ' ' + QByteArray::number(response.status),
                response.delivered ? std::optional(response.body) : std::nullopt);
        });
    } else if (verb == u"get"_s) {
        http.get(url, maxBytes, timeout, &context, [&end](ow::HttpClient::Fetch fetch, QByteArray body) {
            end(FetchWire::fetchName(fetch),
                fetch == ow::HttpClient::Fetch::Complete ? std::optional(std::move(body)) : std::nullopt);
        });
    } else {
        http.download(url, args.value(6), maxBytes, timeout, &context,
                      [&end](ow::HttpClient::Fetch fetch) { end(FetchWire::fetchName(fetch), std::nullopt); });
    }
    return QCoreApplication::exec();
}
