#include "MenuBarIconStyle.h"

#include <QApplication>
#include <QImageReader>
#include <QStyleFactory>
#include <QStyleOption>

namespace ow {

MenuBarIconStyle::MenuBarIconStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
}

bool MenuBarIconStyle::suits(const QString& styleName)
{
    return styleName.compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0
        || styleName.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0;
}

QIcon MenuBarIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                     const QWidget* widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    // The same images the common style adds, at the same sizes; should Qt ever move them,
    // the style's own icon.
    const bool rtl = option ? option->direction == Qt::RightToLeft : QGuiApplication::isRightToLeft();
    const QString name = QStringLiteral(":/qt-project.org/styles/commonstyle/images/toolbar-ext-h-%1%2.png")
                             .arg(rtl ? QStringLiteral("rtl-") : QString());
    QIcon icon;
    for (const int size : {8, 16, 32}) {
        QImageReader reader(name.arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (image.isNull())
            return QProxyStyle::standardIcon(standardIcon, option, widget);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace ow
