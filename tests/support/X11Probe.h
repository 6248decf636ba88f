#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace ow::test {

// The other X client of the lock tests, x11_probe, run as a separate program: it reports
// every key, button and motion event its focused window (and any device, through
// XInput 2) receives.
class X11Probe {
public:
    explicit X11Probe(QString program);
    ~X11Probe();
    X11Probe(const X11Probe&) = delete;
    X11Probe& operator=(const X11Probe&) = delete;

    // True once its window is mapped and focused.
    bool start();
    // Everything it has received so far.
    QStringList received();
    void refocus();

private:
    // The next line it printed, or empty after the timeout.
    QString nextLine(int timeoutMs = 5000);
    // Waits for the line; returns every line read before it, or {"<timeout>"}.
    QStringList readUntil(const QString& line, int timeoutMs = 5000);
    void command(const char* text);

    QString m_program;
    QProcess m_process;
};

} // namespace ow::test
