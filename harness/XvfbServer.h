#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace ow::test {

// A private Xvfb for one test binary, started before any QCoreApplication exists (so no
// QProcess). It picks a free display itself and dies with the test process. Its output and
// that of the window manager go to a log that errorString() quotes when something fails.
class XvfbServer {
public:
    // Runs Xvfb -nolisten tcp -noreset -screen 0 1280x800x24 followed by extraArgs, so
    // extraArgs can resize screen 0 or add screens and extensions.
    explicit XvfbServer(const QStringList& extraArgs = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // False when Xvfb failed to start or has exited since.
    bool isRunning() const;
    // ":N", or empty when Xvfb failed to start.
    QString display() const;
    QString errorString() const;

    // Makes this server the display of this process and of what it starts: DISPLAY, Qt's
    // xcb platform, no Wayland session, and no session bus, so that nothing can start one
    // behind the caller's back. Prints why and returns false when the server is not running.
    bool becomeSessionDisplay() const;

    // Starts openbox on this display and waits until it manages the screen. True at once
    // when it is already running.
    bool startWindowManager();

private:
    QString logTail() const;
    void fail(const QString& what) const;

    mutable pid_t m_pid = -1;
    pid_t m_wmPid = -1;
    int m_logFd = -1;
    QString m_display;
    mutable QString m_error;
};

} // namespace ow::test
