#pragma once

#include <QString>

namespace ow {

// The small label on the application's launcher icon (taskbar, dock), such as the "1"
// of an unread message. An empty label removes it.
class LauncherBadge {
public:
    virtual ~LauncherBadge() = default;
    virtual void setBadgeLabel(const QString& label) = 0;
};

} // namespace ow
