#pragma once

#include "InputAccessPermission.h"

#include <QStringList>

namespace ow {

// Records what was asked of it, in order, so tests can check the sequence.
class FakeInputAccessPermission final : public InputAccessPermission {
public:
    bool isTrusted() const override { return trusted; }
    void prompt() override { calls << QStringLiteral("prompt"); }
    void openSettings() override { calls << QStringLiteral("openSettings"); }

    bool trusted = true;
    QStringList calls;
};

} // namespace ow
