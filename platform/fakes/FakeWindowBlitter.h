#pragma once

#include "WindowBlitter.h"

namespace ow {

class Clock;

// Puts tiles into the toolkit's own buffer of the window, where a test that reads that
// buffer sees them as it would see the screen; puts made later come from the clock's
// timers. It can refuse, as on Wayland.
class FakeWindowBlitter final : public WindowBlitter {
public:
    explicit FakeWindowBlitter(Clock& clock);

    std::unique_ptr<Tiles> upload(WId window, const QImage& strip, int count) override;

    bool refuses = false;
    bool putsLater = true; // false: puts can only be made at once, as on a server without SYNC
    int puts = 0;

private:
    Clock& m_clock;
};

} // namespace ow
