#pragma once

#include <QList>
#include <QObject>
#include <QRect>

namespace ow {

// The screens of the desktop, as geometries in virtual-desktop coordinates, in the
// platform's order, and a signal when that configuration changes.
class ScreenList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QList<QRect> screens() const = 0;

signals:
    void changed();
};

} // namespace ow
