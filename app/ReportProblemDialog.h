#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ow {

// Asks what went wrong: a title, an explanation, a plain-text field for the problem above
// an optional e-mail field, then Send (the default) and Cancel. It only collects the
// texts; whoever opens it reads them once it is accepted.
class ReportProblemDialog : public QDialog {
    Q_OBJECT
public:
    explicit ReportProblemDialog(QWidget* parent = nullptr);

    QPlainTextEdit* textEdit() const { return m_text; }
    QLineEdit* emailField() const { return m_email; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    QPlainTextEdit* m_text;
    QLineEdit* m_email;
    QPushButton* m_cancel;
};

} // namespace ow
