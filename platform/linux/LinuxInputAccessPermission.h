#pragma once

#include "InputAccessPermission.h"

#include <QUrl>

#include <functional>

namespace ow {

class InputGuard;

// Trusted when the input guard lets this session lock or, without it, when an X11 display
// is reachable and the session is not a Wayland session. There is no system prompt; the
// settings open the help page on getting the guard, whose address helpPage gives when it
// is needed.
class LinuxInputAccessPermission final : public InputAccessPermission {
public:
    LinuxInputAccessPermission(InputGuard& guard, std::function<QUrl()> helpPage);

    // By the guard's last answer, which the lock command asks for afresh before each lock:
    // the guard may have been installed since the last one.
    bool isTrusted() const override;
    void prompt() override;
    void openSettings() override;

private:
    InputGuard& m_guard;
    std::function<QUrl()> m_helpPage;
};

} // namespace ow
