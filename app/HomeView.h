#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace ow {

class BadgeImageView;

// The home page: the brand mark, the name, a short explanation, the lock button (also
// Return), the unlock hint, and the settings and messages buttons in the corner with a
// badge over the messages button.
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
};

} // namespace ow
