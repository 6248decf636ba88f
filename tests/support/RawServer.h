#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <chrono>

// A TCP server on 127.0.0.1 that answers each connection's first data with the same raw
// bytes, or not at all when there are none, and then closes the connection or leaves it
// hanging. With a pace, the answer's head goes out at once and its body one byte per
// pace, so it never stalls and does not end for a long time. Without an answer it also
// stands for a TLS server whose handshake never completes.
class RawServer {
public:
    RawServer(QByteArray response, bool closeAfter, std::chrono::milliseconds pace = {});

    // scheme://127.0.0.1:port/path
    QUrl url(const QString& path, const QString& scheme = QStringLiteral("http")) const;
    QTcpServer& server() { return m_server; }

    // From now on, connections that send data get this answer at once.
    void answerWith(QByteArray response);

    int accepted() const { return m_accepted; }
    // Connections the other end has not closed yet.
    int openConnections() const;

private:
    void answer(QTcpSocket* socket);
    void writePaced();

    QTcpServer m_server;
    QByteArray m_response;
    bool m_closeAfter;
    std::chrono::milliseconds m_pace;
    QTimer m_paceTimer;
    int m_accepted = 0;
};
