#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace ow {

// Every modal alert of the application goes through here: buttons in the given order,
// the first one the default, texts shown as plain text. The answer is 1000 for the first
// button and 1001 for the second, and so on, or Closed when the user chose none of them.
// Tests preset the answers instead of clicking.
class Alert {
public:
    static constexpr int FirstButton = 1000;
    static constexpr int SecondButton = 1001;
    // Closed with Esc or the window's close button: no button was chosen.
    static constexpr int Closed = 0;

    struct Record {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QStringList buttons;
    };

    // title is the alert's bold message, text its explanation below; iconPixmap, when
    // given, replaces the standard icon.
    static int run(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                   const QStringList& buttons, const QPixmap& iconPixmap = QPixmap());

    // A file's path made to stay whole on its line: lines break neither after a "/" or a
    // "-" in it nor at its spaces. The alert grows to show it, and wraps it anywhere only
    // past the screen's width.
    static QString unbroken(const QString& path);

    // Tests: while answers are queued, alerts are not shown but recorded and answered
    // with the next queued answer.
    static void setNextAnswer(int answer);
    static QList<Record> takeRecords();
    static void reset();
};

} // namespace ow
