#pragma once

#include "CursorVisibility.h"

namespace ow {

// A Wayland client sets the pointer's image only over its own surfaces, so the pointer is
// hidden with a blank cursor over all of the application's windows: during a lock the
// overlays cover every output. Counted with Qt's own stack of override cursors.
class WaylandCursorVisibility final : public CursorVisibility {
public:
    ~WaylandCursorVisibility() override;

    void hide() override;
    void show() override;

private:
    int m_hidden = 0;
};

} // namespace ow
