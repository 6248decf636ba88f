#pragma once

#include "LoginItem.h"

#include <QString>

namespace ow {

// An XDG autostart entry, orbinwash.desktop, in the user's autostart folder. Session
// managers skip an entry marked Hidden=true or X-GNOME-Autostart-enabled=false, so such
// an entry counts as not registered.
class XdgAutostartLoginItem final : public LoginItem {
public:
    // command: the executable to start, an absolute path.
    explicit XdgAutostartLoginItem(QString autostartFolder = defaultFolder(),
                                   QString command = defaultCommand());

    // $XDG_CONFIG_HOME/autostart
    static QString defaultFolder();
    // This running executable.
    static QString defaultCommand();

    QString filePath() const;

    bool registerItem(QString* error) override;
    bool unregisterItem(QString* error) override;
    bool isEnabled() const override;

private:
    const QString m_folder;
    const QString m_command;
};

} // namespace ow
