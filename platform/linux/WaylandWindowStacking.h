#pragma once

#include "WindowStacking.h"

namespace ow {

// Does nothing: a Wayland client cannot restack windows, its own or others'; the
// compositor alone orders them. The overlays rely on being full-screen on their outputs,
// which compositors keep above ordinary windows, and on the input guard to hold input.
class WaylandWindowStacking final : public WindowStacking {
public:
    void keepOnTop(const QList<WId>&) override {}
    void release() override {}
};

} // namespace ow
