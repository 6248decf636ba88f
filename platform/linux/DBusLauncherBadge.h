#pragma once

#include "LauncherBadge.h"

namespace ow {

// Shows the label as a count on the launcher icon through the LauncherEntry signal that
// docks and task managers (Plank, Dash to Dock, KDE's task manager) listen for on the
// session bus. Without a session bus nothing happens.
class DBusLauncherBadge final : public LauncherBadge {
public:
    static const QString kObjectPath;
    static const QString kAppUri;

    void setBadgeLabel(const QString& label) override;
};

} // namespace ow
