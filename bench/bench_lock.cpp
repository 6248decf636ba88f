// Lock latency and the cost of swallowing a flood, under a private Xvfb.
#include "FakeLockWatchdog.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LockController.h"
#include "LockWindow.h"
#include "MemoryUserDefaults.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "X11CursorVisibility.h"
#include "X11InputGrab.h"
#include "X11WindowStacking.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

using namespace ow;

namespace {

// Notes when the grab is held, so the latency to it can be told apart from the rest.
class TimedGrab final : public InputGrab {
public:
    explicit TimedGrab(const QElapsedTimer& clock) : m_clock(clock) {}
    bool grab(FlagsSink sink) override
    {
        const bool held = m_inner.grab(std::move(sink));
        heldAtNs = m_clock.nsecsElapsed();
        return held;
    }
    void release() override { m_inner.release(); }

    qint64 heldAtNs = 0;

private:
    const QElapsedTimer& m_clock;
    X11InputGrab m_inner;
};

// Counts the overlay windows painted since the last reset.
class PaintWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<LockWindow*>(watched))
            painted.insert(watched);
        return false;
    }
    QSet<QObject*> painted;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    test::XvfbServer xvfb;
    if (!xvfb.becomeSessionDisplay())
        return 1;
    QApplication app(argc, argv);

    QElapsedTimer clockNs;
    clockNs.start();
    QtClock clock;
    MemoryUserDefaults defaults;
    X11CursorVisibility cursor;
    LinuxDisplaySleepAssertion sleep;
    QtScreenList screens;
    X11WindowStacking stacking;
    FakeLockWatchdog watchdog;
    auto grab = std::make_unique<TimedGrab>(clockNs);
    TimedGrab* timedGrab = grab.get();
    LockController controller(std::make_unique<TapLockEngine>(std::move(grab), clock),
                              {clock, defaults, cursor, sleep, screens, stacking, watchdog});
    PaintWatcher paints;
    app.installEventFilter(&paints);

    constexpr int kRuns = 20;
    std::vector<double> toGrab;
    std::vector<double> toPainted;
    for (int run = 0; run < kRuns; ++run) {
        paints.painted.clear();
        const qint64 start = clockNs.nsecsElapsed();
        if (!controller.lock()) {
            std::fprintf(stderr, "lock() failed\n");
            return 1;
        }
        toGrab.push_back(double(timedGrab->heldAtNs - start) / 1e6);
        QElapsedTimer waited;
        waited.start();
        while (paints.painted.size() < controller.lockWindows().size() && waited.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        toPainted.push_back(double(clockNs.nsecsElapsed() - start) / 1e6);
        controller.unlock();
        spin(50);
    }

    constexpr int kMotions = 50000;
    constexpr int kTaps = 25000; // a press and a release each
    constexpr int kEvents = kMotions + 2 * kTaps;
    controller.lock();
    spin(200);
    const double floodCpuBefore = cpuSeconds();
    QElapsedTimer floodWall;
    floodWall.start();
    QProcess flood;
    QEventLoop floodLoop;
    QObject::connect(&flood, &QProcess::finished, &floodLoop, &QEventLoop::quit);
    flood.start(QStringLiteral(X11_FLOOD), {QString::number(kMotions), QString::number(kTaps)});
    floodLoop.exec();
    spin(300); // let the last of it drain
    const double floodCpu = cpuSeconds() - floodCpuBefore;
    const qint64 floodMs = floodWall.elapsed();

    const double idleCpuBefore = cpuSeconds();
    constexpr int kIdleMs = 5000;
    spin(kIdleMs);
    const double idleCpu = cpuSeconds() - idleCpuBefore;
    controller.unlock();

    std::printf("OrbinWash lock benchmark (Xvfb 1280x800, one screen, %d runs)\n", kRuns);
    std::printf("  lock() to both grabs held, median      %8.2f ms\n", median(toGrab));
    std::printf("  lock() to every overlay painted, median %7.2f ms\n", median(toPainted));
    std::printf("  flood of %d events (%d motions, %d key events) in %lld ms\n", kEvents, kMotions,
                2 * kTaps, floodMs);
    std::printf("  CPU per swallowed event                %8.3f us\n", floodCpu * 1e6 / kEvents);
    std::printf("  CPU while locked and idle              %8.3f %% of a core\n",
                idleCpu * 100.0 * 1000.0 / kIdleMs);
    return 0;
}
