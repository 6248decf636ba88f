#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;

namespace ow {

// The note across the top of the home view that shows a new message from Orbin Labs:
// a mauve-tinted rounded box with a title, the message as plain text, and an OK button
// that Return also presses while the main window is active. It stays until OK. A long
// message scrolls inside it, so that OK and the home view below stay within reach.
class MessageBanner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSideInset = 16;
    static constexpr int kTopInset = 12;
    static constexpr int kMinimumHeight = 52;
    // Ends above the home view's column of icon, title and lock button.
    static constexpr int kMaximumHeight = 160;

    MessageBanner(const QString& body, QWidget* parent);

    QLabel* bodyLabel() const { return m_body; }
    // Holds the body and scrolls it when it is taller than the banner allows.
    QScrollArea* bodyArea() const { return m_bodyArea; }
    QPushButton* okButton() const { return m_ok; }

    // Places the banner at the top of a host hostWidth wide, as tall as the message needs.
    void layOut(int hostWidth);

signals:
    void okPressed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QLabel* m_title;
    QScrollArea* m_bodyArea;
    QLabel* m_body;
    QPushButton* m_ok;
};

} // namespace ow
