#pragma once

namespace ow {

// Whether the desktop session is a Wayland session, as the session or the presence of a
// Wayland display says. X11 grabs there hold X clients only, never native Wayland ones.
bool isWaylandSession();

} // namespace ow
