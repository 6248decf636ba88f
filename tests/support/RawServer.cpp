#include "RawServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

const char* const kAnswered = "answered";
const char* const kUnsent = "unsent";

} // namespace

RawServer::RawServer(QByteArray response, bool closeAfter, std::chrono::milliseconds pace)
    : m_response(std::move(response))
    , m_closeAfter(closeAfter)
    , m_pace(pace)
{
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_accepted;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                socket->readAll();
                if (!socket->property(kAnswered).toBool())
                    answer(socket);
            });
        }
    });
    QObject::connect(&m_paceTimer, &QTimer::timeout, &m_server, [this] { writePaced(); });
    m_server.listen(QHostAddress::LocalHost);
}

QUrl RawServer::url(const QString& path, const QString& scheme) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(m_server.serverPort()).arg(path));
}

void RawServer::answerWith(QByteArray response)
{
    m_response = std::move(response);
    m_pace = {};
}

int RawServer::openConnections() const
{
    int open = 0;
    for (const QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
}

void RawServer::answer(QTcpSocket* socket)
{
    if (m_response.isEmpty())
        return;
    socket->setProperty(kAnswered, true);
    if (m_pace.count() > 0) {
        // The head at once, so that the body is what trickles.
        const qsizetype head = m_response.indexOf("\r\n\r\n") + 4;
        socket->write(m_response.left(head));
        socket->setProperty(kUnsent, m_response.mid(head));
        if (!m_paceTimer.isActive())
            m_paceTimer.start(m_pace);
        return;
    }
    socket->write(m_response);
    if (m_closeAfter)
        socket->disconnectFromHost();
}

void RawServer::writePaced()
{
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
        QByteArray unsent = socket->property(kUnsent).toByteArray();
        if (unsent.isEmpty() || socket->state() != QAbstractSocket::ConnectedState)
            continue;
        socket->write(unsent.left(1));
        socket->setProperty(kUnsent, unsent.mid(1));
    }
}
