#pragma once

#include <QProxyStyle>

namespace ow {

// The application's style, except that the menu bar's extension button icon (the »
// shown when the menus do not fit) is read as the PNG it is. The style's own reading
// lets Qt guess the format, which loads every image format plugin, and with them the
// JPEG library, for good: about 0.2 MiB held through every lock for a hidden button.
class MenuBarIconStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps a new instance of the style that the application would use.
    MenuBarIconStyle();
    // Whether the named style is one of Qt's own, which take the icon from Qt's images;
    // other styles may draw their own, so they stay as they are.
    static bool suits(const QString& styleName);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

} // namespace ow
