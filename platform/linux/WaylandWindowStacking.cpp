#include "WaylandWindowStacking.h"

#include <QGuiApplication>
#include <QWindow>

namespace ow {

WaylandWindowStacking::WaylandWindowStacking()
{
    m_retake.setSingleShot(true);
    connect(&m_retake, &QTimer::timeout, this, &WaylandWindowStacking::takeTopBack);
}

WaylandWindowStacking::~WaylandWindowStacking()
{
    release();
}

void WaylandWindowStacking::keepOnTop(const QList<WId>& windows)
{
    m_windows.clear();
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() && windows.contains(window->winId()))
            m_windows.append(window);
    }
    m_lastFocused = guardedHasFocus() ? QGuiApplication::focusWindow() : nullptr;
    if (!m_focusWatch)
        m_focusWatch = connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &WaylandWindowStacking::focusChanged);
}

void WaylandWindowStacking::release()
{
    disconnect(m_focusWatch);
    m_focusWatch = {};
    m_retake.stop();
    m_windows.clear();
    m_lastFocused = nullptr;
}

bool WaylandWindowStacking::guardedHasFocus() const
{
    QWindow* focused = QGuiApplication::focusWindow();
    return focused && m_windows.contains(focused);
}

void WaylandWindowStacking::focusChanged(QWindow* now)
{
    if (now && m_windows.contains(now)) {
        m_lastFocused = now;
        m_activationAsked = false;
        m_retake.stop();
        return;
    }
    // Focus that the overlays never had is not taken back: the compositor gave it elsewhere
    // from the start. Another window of ours is ours to show.
    if (!now && m_lastFocused && !m_retake.isActive())
        m_retake.start(kSettleMs);
}

void WaylandWindowStacking::takeTopBack()
{
    if (guardedHasFocus() || !m_lastFocused || QGuiApplication::focusWindow())
        return;
    if (!m_activationAsked) {
        m_activationAsked = true;
        m_lastFocused->requestActivate();
        m_retake.start(kActivationMs);
        return;
    }
    if (m_sinceReshow.isValid() && m_sinceReshow.elapsed() < kMinIntervalMs) {
        m_retake.start(int(kMinIntervalMs - m_sinceReshow.elapsed()));
        return;
    }
    m_sinceReshow.start();
    m_activationAsked = false;
    // Taken back again only once the overlays have had the focus again: a compositor that
    // does not focus them when shown would otherwise have them shown over and over.
    m_lastFocused = nullptr;
    for (const QPointer<QWindow>& window : std::as_const(m_windows)) {
        if (!window)
            continue;
        // Mapped anew, the overlay is a new window to the compositor, which puts it on top.
        window->hide();
        window->showFullScreen();
    }
}

} // namespace ow
