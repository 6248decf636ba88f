#pragma once

#include "WindowStacking.h"

#include <QSocketNotifier>

#include <memory>

namespace ow {

class X11Connection;

// Watches the root window's children on a connection of its own and raises the guarded
// windows again whenever another window is mapped, restacked or moved. Override-redirect
// windows mapped later (notifications, menus) would otherwise land above them, whatever
// the windows' stay-on-top hints say.
class X11WindowStacking final : public WindowStacking {
public:
    X11WindowStacking();
    ~X11WindowStacking() override;

    void keepOnTop(const QList<WId>& windows) override;
    void release() override;

private:
    void drain();
    void raiseGuarded();
    bool isGuarded(unsigned long window) const;

    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<WId> m_windows;
};

} // namespace ow
