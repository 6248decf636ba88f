#pragma once

#include "InputAccessPermission.h"

#include <QUrl>

#include <functional>

namespace ow {

// Trusted when an X11 display is reachable and the session is not a Wayland session.
// There is no system prompt; the settings open the help page on starting an X11
// session, whose address helpPage gives when it is needed.
class X11InputAccessPermission final : public InputAccessPermission {
public:
    explicit X11InputAccessPermission(std::function<QUrl()> helpPage);

    bool isTrusted() const override;
    void prompt() override;
    void openSettings() override;

private:
    std::function<QUrl()> m_helpPage;
};

} // namespace ow
