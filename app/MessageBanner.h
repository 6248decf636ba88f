#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace ow {

// The note across the top of the home view that shows a new message from Orbin Labs:
// a mauve-tinted rounded box with a title, the message as plain text, and an OK button
// that Return also presses while the main window is active. It stays until OK.
class MessageBanner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSideInset = 16;
    static constexpr int kTopInset = 12;
    static constexpr int kMinimumHeight = 52;

    MessageBanner(const QString& body, QWidget* parent);

    QLabel* titleLabel() const { return m_title; }
    QLabel* bodyLabel() const { return m_body; }
    QPushButton* okButton() const { return m_ok; }

    // Places the banner at the top of a host hostWidth wide, as tall as the message needs.
    void layOut(int hostWidth);

signals:
    void okPressed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_body;
    QPushButton* m_ok;
};

} // namespace ow
