#pragma once

#include <QString>

#include <atomic>
#include <thread>

struct _XDisplay;

namespace ow::bench {

// Notices, without taking any grab itself, when another client grabs or releases the
// keyboard: the server then moves the focus with mode NotifyGrab or NotifyUngrab, and
// both the focused probe window and the root hear of it. A thread of its own reads the
// events, so the times are those of their arrival, whatever the bench is doing.
class GrabWatcher {
public:
    explicit GrabWatcher(const QString& display);
    ~GrabWatcher();
    GrabWatcher(const GrabWatcher&) = delete;
    GrabWatcher& operator=(const GrabWatcher&) = delete;

    bool isOpen() const { return m_display != nullptr; }
    // A small window of the watcher's own, for the focus to rest on while a locker starts.
    unsigned long probeWindow() const { return m_probe; }

    // Steady-clock nanoseconds of the first grab (or ungrab) seen after afterNs; -1 if
    // none came within timeoutMs.
    qint64 waitForGrab(qint64 afterNs, int timeoutMs) const;
    qint64 waitForUngrab(qint64 afterNs, int timeoutMs) const;

    static qint64 nowNs();

private:
    void run();
    static qint64 waitFor(const std::atomic<qint64>& seen, qint64 afterNs, int timeoutMs);

    _XDisplay* m_display = nullptr;
    unsigned long m_probe = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<qint64> m_grabNs{0};
    std::atomic<qint64> m_ungrabNs{0};
    std::thread m_thread;
};

} // namespace ow::bench
