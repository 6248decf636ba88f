#include "ReportProblemDialog.h"

#include "Localizer.h"
#include "VisualKit.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ow {

namespace {
constexpr QSize kTextSize(380, 110);
constexpr QSize kEmailSize(380, 24);
} // namespace

ReportProblemDialog::ReportProblemDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QApplication::applicationDisplayName());
    setModal(true);

    const QColor label = palette().color(QPalette::WindowText);
    auto* title = makeLabel(L("report.title"), 13, QFont::Bold, label, this);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* message = makeLabel(L("report.message"), 11, QFont::Normal, label, this);
    message->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    message->setWordWrap(true);
    message->setFixedWidth(kTextSize.width());

    m_text = new QPlainTextEdit(this);
    m_text->setFixedSize(kTextSize);
    QFont textFont = m_text->font();
    textFont.setPixelSize(13);
    m_text->setFont(textFont);
    // Tab moves on to the e-mail field instead of typing a tab.
    m_text->setTabChangesFocus(true);

    m_email = new QLineEdit(this);
    m_email->setFixedSize(kEmailSize);
    m_email->setPlaceholderText(L("report.email_placeholder"));

    auto* buttons = new QDialogButtonBox(this);
    auto* send = buttons->addButton(L("common.send"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(L("common.cancel"), QDialogButtonBox::RejectRole);
    send->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(message);
    layout->addSpacing(6);
    layout->addWidget(m_text);
    layout->addWidget(m_email);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_text->setFocus();
}

} // namespace ow
