#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace ow::test {

// Runs raise, which shows a real message box, and hands check the label of its explanation
// as laid out; the box is then answered with its default button.
inline void checkShownAlert(const std::function<void()>& raise, const std::function<void(const QLabel&)>& check)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            check(*box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")));
            box->defaultButton()->click();
        }
    });
    poll.start(10);
    raise();
}

} // namespace ow::test
