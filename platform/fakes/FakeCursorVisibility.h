#pragma once

#include "CursorVisibility.h"

namespace ow {

class FakeCursorVisibility final : public CursorVisibility {
public:
    void hide() override { ++hideCount; }
    void show() override { --hideCount; }
    bool visible() const { return hideCount <= 0; }

    int hideCount = 0;
};

} // namespace ow
