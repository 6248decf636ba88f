#pragma once

#include "CursorVisibility.h"

#include <memory>

namespace ow {

class X11Connection;

// Hides the pointer with XFixes on the root window, on the shared connection. The server
// counts hides per client and shows the pointer again when that connection closes.
class X11CursorVisibility final : public CursorVisibility {
public:
    X11CursorVisibility();
    ~X11CursorVisibility() override;

    void hide() override;
    void show() override;

private:
    bool ensureConnection();

    std::shared_ptr<X11Connection> m_connection;
    int m_hidden = 0;
};

} // namespace ow
