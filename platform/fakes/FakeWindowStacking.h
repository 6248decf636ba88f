#pragma once

#include "WindowStacking.h"

namespace ow {

class FakeWindowStacking final : public WindowStacking {
public:
    void keepOnTop(const QList<WId>& windows) override { guarded = windows; }
    void release() override { guarded.clear(); }

    QList<WId> guarded;
};

} // namespace ow
