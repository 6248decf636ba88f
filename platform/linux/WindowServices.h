#pragma once

#include "LinuxDisplaySleepAssertion.h"

#include <memory>

namespace ow {

class CursorVisibility;
struct SessionKind;
class TaskbarPresence;
class WindowBlitter;
class WindowStacking;

// The services that act on windows and the display, in the meaning the session gives them:
// X11 ones where the windows are X11 windows of an X11 session, else Wayland ones, which
// never touch an X display (in a Wayland session one would be Xwayland, beside the point).
class WindowServices {
public:
    explicit WindowServices(const SessionKind& session);
    ~WindowServices();

    CursorVisibility& cursor() { return *m_cursor; }
    WindowStacking& stacking() { return *m_stacking; }
    WindowBlitter& blitter() { return *m_blitter; }
    TaskbarPresence& taskbar() { return *m_taskbar; }
    LinuxDisplaySleepAssertion& displaySleep() { return m_sleep; }

private:
    std::unique_ptr<CursorVisibility> m_cursor;
    std::unique_ptr<WindowStacking> m_stacking;
    std::unique_ptr<WindowBlitter> m_blitter;
    std::unique_ptr<TaskbarPresence> m_taskbar;
    LinuxDisplaySleepAssertion m_sleep;
};

} // namespace ow
