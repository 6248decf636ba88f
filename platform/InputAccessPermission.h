#pragma once

namespace ow {

// Whether OrbinWash may take over the session's keyboard and mouse, and how the user is
// helped to allow it. On Linux this means the input guard, or else an X11 session: X11
// grabs cannot hold native Wayland programs.
class InputAccessPermission {
public:
    virtual ~InputAccessPermission() = default;
    virtual bool isTrusted() const = 0;
    // Asks the system to prompt the user, where the system has such a prompt.
    virtual void prompt() = 0;
    // Opens the place where the user can allow it (on Linux, the help page on getting the guard).
    virtual void openSettings() = 0;
};

} // namespace ow
