#include "SettingsView.h"

#include "Localizer.h"
#include "VisualKit.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace ow {

SettingsView::SettingsView(QWidget* parent)
    : QWidget(parent)
{
    auto* back = new QToolButton(this);
    back->setArrowType(Qt::LeftArrow);
    back->setAutoRaise(true);
    back->setAccessibleName(L("accessibility.back"));
    back->setToolTip(L("accessibility.back"));
    connect(back, &QToolButton::clicked, this, &SettingsView::backRequested);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->addWidget(back, 0, Qt::AlignLeft);
    layout->addWidget(makeLabel(L("settings.title"), 20, QFont::Bold, palette().color(QPalette::WindowText), this));
    layout->addStretch();
}

} // namespace ow
