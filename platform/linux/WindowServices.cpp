#include "WindowServices.h"

#include "SessionKind.h"
#include "WaylandCursorVisibility.h"
#include "WaylandTaskbarPresence.h"
#include "WaylandWindowBlitter.h"
#include "WaylandWindowStacking.h"
#include "X11CursorVisibility.h"
#include "X11TaskbarPresence.h"
#include "X11WindowBlitter.h"
#include "X11WindowStacking.h"

namespace ow {

WindowServices::WindowServices(const SessionKind& session)
    : m_sleep(session.wayland ? LinuxDisplaySleepAssertion::Fallback::InhibitPortal
                              : LinuxDisplaySleepAssertion::Fallback::X11ScreenSaver)
{
    if (session.windows == WindowSystem::X11) {
        m_cursor = std::make_unique<X11CursorVisibility>();
        m_stacking = std::make_unique<X11WindowStacking>();
        m_blitter = std::make_unique<X11WindowBlitter>();
        m_taskbar = std::make_unique<X11TaskbarPresence>();
    } else {
        m_cursor = std::make_unique<WaylandCursorVisibility>();
        m_stacking = std::make_unique<WaylandWindowStacking>();
        m_blitter = std::make_unique<WaylandWindowBlitter>();
        m_taskbar = std::make_unique<WaylandTaskbarPresence>();
    }
}

WindowServices::~WindowServices() = default;

} // namespace ow
