#pragma once

#include "WindowBlitter.h"

namespace ow {

// Puts tiles into the toolkit's own buffer of the window, where a test that reads that
// buffer sees them as it would see the screen. It can refuse, as on Wayland.
class FakeWindowBlitter final : public WindowBlitter {
public:
    std::unique_ptr<Tiles> upload(WId window, const QImage& strip, int count) override;

    bool refuses = false;
    int puts = 0;
};

} // namespace ow
