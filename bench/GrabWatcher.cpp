#include "GrabWatcher.h"

#include <chrono>

#include <poll.h>
#include <unistd.h>

#include <X11/Xlib.h>

namespace ow::bench {

GrabWatcher::GrabWatcher(const QString& display)
{
    m_display = XOpenDisplay(display.toLocal8Bit().constData());
    if (!m_display || pipe(m_wake) != 0) {
        if (m_display)
            XCloseDisplay(m_display);
        m_display = nullptr;
        return;
    }
    const Window root = DefaultRootWindow(m_display);
    m_probe = XCreateSimpleWindow(m_display, root, 0, 0, 16, 16, 0, 0, 0);
    XSelectInput(m_display, m_probe, FocusChangeMask);
    XSelectInput(m_display, root, FocusChangeMask);
    XMapWindow(m_display, m_probe);
    XSync(m_display, False);
    m_thread = std::thread([this] { run(); });
}

GrabWatcher::~GrabWatcher()
{
    if (!m_display)
        return;
    const char stop = 0;
    (void)write(m_wake[1], &stop, 1);
    m_thread.join();
    XCloseDisplay(m_display);
    close(m_wake[0]);
    close(m_wake[1]);
}

qint64 GrabWatcher::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GrabWatcher::run()
{
    pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) || (fds[0].revents & (POLLERR | POLLHUP)))
            return;
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type != FocusIn && event.type != FocusOut)
                continue;
            if (event.xfocus.mode == NotifyGrab)
                m_grabNs = nowNs();
            else if (event.xfocus.mode == NotifyUngrab)
                m_ungrabNs = nowNs();
        }
    }
}

qint64 GrabWatcher::waitFor(const std::atomic<qint64>& seen, qint64 afterNs, int timeoutMs)
{
    const qint64 deadline = nowNs() + qint64(timeoutMs) * 1000000;
    while (nowNs() < deadline) {
        const qint64 at = seen;
        if (at > afterNs)
            return at;
        usleep(100);
    }
    return -1;
}

qint64 GrabWatcher::waitForGrab(qint64 afterNs, int timeoutMs) const
{
    return waitFor(m_grabNs, afterNs, timeoutMs);
}

qint64 GrabWatcher::waitForUngrab(qint64 afterNs, int timeoutMs) const
{
    return waitFor(m_ungrabNs, afterNs, timeoutMs);
}

} // namespace ow::bench
