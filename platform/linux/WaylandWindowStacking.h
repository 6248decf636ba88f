#pragma once

#include "WindowStacking.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWindow;

namespace ow {

// A Wayland client cannot restack windows: the compositor alone orders them, and a window
// that opens during a lock (a dialog, a program started by a timer) lands above the
// overlays and takes the focus. What a client can do is notice that its windows lost the
// focus, and then ask for it back: first through xdg-activation (Qt's requestActivate),
// and where the compositor does not grant that without fresh user input, by showing the
// overlays again, which compositors place above the others as new windows. The input
// guard holds every device meanwhile, so nothing reaches the window that came.
class WaylandWindowStacking final : public QObject, public WindowStacking {
    Q_OBJECT
public:
    // How long the window that came is let settle, and how long activation is given
    // before the overlays are shown again.
    static constexpr int kSettleMs = 250;
    static constexpr int kActivationMs = 500;
    // Two programs that both take the top back would flicker: at most once in this time.
    static constexpr int kMinIntervalMs = 2000;

    WaylandWindowStacking();
    ~WaylandWindowStacking() override;

    void keepOnTop(const QList<WId>& windows) override;
    void release() override;

private:
    void focusChanged(QWindow* now);
    void takeTopBack();
    bool guardedHasFocus() const;

    QList<QPointer<QWindow>> m_windows;
    QPointer<QWindow> m_lastFocused;
    QMetaObject::Connection m_focusWatch;
    QTimer m_retake;
    QElapsedTimer m_sinceReshow;
    bool m_activationAsked = false;
};

} // namespace ow
