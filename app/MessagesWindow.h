#pragma once

#include "ServiceClient.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace ow {

// The conversation with Orbin Labs, 460 × 520: the messages newest first in a scrolling
// list, a reply field, the send button (also Return) and a hint. Every message is shown
// as plain text.
class MessagesWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{460, 520};
    static constexpr int kListHeight = 416;

    explicit MessagesWindow(QWidget* parent = nullptr);

    // Rebuilds the list from history, newest first.
    void setHistory(const QList<ServiceClient::ArchivedMessage>& history);
    // Centres the window on its screen, raises it and gives the reply field the focus.
    void present();

    QScrollArea* list() const { return m_list; }
    QLineEdit* replyField() const { return m_reply; }

signals:
    void sendPressed();

private:
    QScrollArea* m_list;
    QLineEdit* m_reply;
    QPushButton* m_send;
};

} // namespace ow
