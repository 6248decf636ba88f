#pragma once

namespace ow {

// Hides the pointer everywhere on the desktop. Hides and shows are counted: the pointer
// shows again after as many show() calls as there were hide() calls.
class CursorVisibility {
public:
    virtual ~CursorVisibility() = default;
    virtual void hide() = 0;
    virtual void show() = 0;
};

} // namespace ow
