#pragma once

#include "LauncherBadge.h"

namespace ow {

class FakeLauncherBadge final : public LauncherBadge {
public:
    void setBadgeLabel(const QString& text) override { label = text; }

    QString label;
};

} // namespace ow
