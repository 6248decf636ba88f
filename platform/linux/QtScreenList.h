#pragma once

#include "ScreenList.h"

class QScreen;

namespace ow {

// The screens Qt knows, watched for screens added, removed or resized.
class QtScreenList final : public ScreenList {
    Q_OBJECT
public:
    explicit QtScreenList(QObject* parent = nullptr);
    QList<QRect> screens() const override;

private:
    void watch(QScreen* screen);
};

} // namespace ow
