#include "QtScreenList.h"

#include <QGuiApplication>
#include <QScreen>

namespace ow {

QtScreenList::QtScreenList(QObject* parent)
    : ScreenList(parent)
{
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        emit changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenList::changed);
}

QList<QRect> QtScreenList::screens() const
{
    QList<QRect> result;
    for (const QScreen* screen : QGuiApplication::screens())
        result.append(screen->geometry());
    return result;
}

void QtScreenList::watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, &ScreenList::changed);
}

} // namespace ow
