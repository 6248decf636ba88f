#pragma once

#include "SessionKind.h"

#include <QByteArray>
#include <QStringList>

namespace ow {

// The Qt platform plugin to start on. In a Wayland session Qt's wayland platform, since
// only there do the overlays cover the native programs' windows; Xwayland's "xcb" when
// that plugin is not installed or does not start. A platform the user names is kept.
class QtPlatformChoice {
public:
    // In QT_QPA_PLATFORM's form, the first that starts wins; empty leaves the choice to Qt.
    static QByteArray choose(const SessionEnvironment& environment, const QByteArray& named,
                             bool waylandPluginInstalled);
    // For this process, before the application object exists.
    static QByteArray forThisProcess();
    static bool waylandPluginInstalled();
    // Whether one of these plugin folders holds Qt's wayland platform.
    static bool waylandPluginIn(const QStringList& pluginFolders);
};

} // namespace ow
