#pragma once

#include "ShortcutsInhibitor.h"

#include <QList>

namespace ow {

class FakeShortcutsInhibitor final : public ShortcutsInhibitor {
public:
    void inhibit(QWindow* window) override
    {
        if (!inhibited.contains(window))
            inhibited.append(window);
    }
    void release(QWindow* window) override { inhibited.removeOne(window); }

    QList<QWindow*> inhibited;
};

} // namespace ow
