#pragma once

#include "ScreenList.h"

namespace ow {

class FakeScreenList final : public ScreenList {
    Q_OBJECT
public:
    explicit FakeScreenList(QList<QRect> screens = {QRect(0, 0, 800, 600)})
        : m_screens(std::move(screens)) {}

    QList<QRect> screens() const override { return m_screens; }
    void setScreens(QList<QRect> screens)
    {
        m_screens = std::move(screens);
        emit changed();
    }

private:
    QList<QRect> m_screens;
};

} // namespace ow
