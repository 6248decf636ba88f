#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace ow {

class BadgeImageView;
class MessageBanner;
class ReleaseShortcut;

// The home page: the brand mark, the name, a short explanation, the lock button (also
// Return), the unlock hint, and the settings and messages buttons in the corner with a
// badge over the messages button. A new message shows as a banner across the top.
class HomeView : public QWidget {
    Q_OBJECT
public:
    explicit HomeView(int holdSeconds, QWidget* parent = nullptr);

    QPushButton* lockButton() const { return m_lockButton; }
    QLabel* hintLabel() const { return m_hintLabel; }
    QToolButton* settingsButton() const { return m_settingsButton; }
    QToolButton* messagesButton() const { return m_messagesButton; }
    BadgeImageView* messagesBadge() const { return m_messagesBadge; }
    void setHoldSeconds(int seconds);

    // open: there is a support conversation, so the messages button shows; unread: a
    // message waits, so the badge shows and the button takes the accent colour.
    void setMessagesState(bool open, bool unread);

    // Replaces any banner with one showing body; Return presses its OK instead of the
    // lock button until it goes. OK removes it.
    void showMessageBanner(const QString& body);
    void dismissMessageBanner();
    MessageBanner* messageBanner() const;

signals:
    void lockPressed();
    void showSettings();
    void showMessages();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPushButton* m_lockButton;
    QLabel* m_hintLabel;
    QToolButton* m_settingsButton;
    QToolButton* m_messagesButton;
    BadgeImageView* m_messagesBadge;
    ReleaseShortcut* m_returnShortcut;
    QPointer<MessageBanner> m_banner;
};

} // namespace ow
