#pragma once

#include "TaskbarPresence.h"

#include <QHash>

namespace ow {

class FakeTaskbarPresence final : public TaskbarPresence {
public:
    bool canSkipTaskbar() const override { return canSkip; }
    void setSkipTaskbar(WId window, bool skip) override { skipped.insert(window, skip); }

    QHash<WId, bool> skipped;
    bool canSkip = true;
};

} // namespace ow
