// How soon lock() holds the input and has painted every overlay, under a private Xvfb.
// What a lock costs while it runs is measured from outside, beside other lockers, by
// bench_lockers.
#include "FakeLockWatchdog.h"
#include "LinuxPlatform.h"
#include "LockController.h"
#include "LockWindow.h"
#include "TapLockEngine.h"
#include "X11InputGrab.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

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
    void reassert() override { m_inner.reassert(); }

    qint64 heldAtNs = 0;

private:
    const QElapsedTimer& m_clock;
    X11InputGrab m_inner;
};

// The real services, with a timed grab and no watchdog process to start.
class BenchPlatform final : public LinuxPlatform {
public:
    BenchPlatform(const QString& defaultsPath, const QElapsedTimer& clockNs)
        : LinuxPlatform({.defaultsPath = defaultsPath})
        , m_clockNs(clockNs)
    {
    }
    LockWatchdog& watchdog() override { return m_watchdog; }
    std::unique_ptr<InputGrab> makeInputGrab() override
    {
        auto grab = std::make_unique<TimedGrab>(m_clockNs);
        timedGrab = grab.get();
        return grab;
    }

    TimedGrab* timedGrab = nullptr;

private:
    const QElapsedTimer& m_clockNs;
    FakeLockWatchdog m_watchdog;
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
    const QTemporaryDir settings;
    BenchPlatform platform(settings.filePath(QStringLiteral("defaults.json")), clockNs);
    LockController controller(std::make_unique<TapLockEngine>(platform), LockController::Services::of(platform));
    TimedGrab* timedGrab = platform.timedGrab;
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

    std::printf("OrbinWash lock benchmark (Xvfb 1280x800, one screen, %d runs)\n", kRuns);
    std::printf("  lock() to both grabs held, median      %8.2f ms\n", median(toGrab));
    std::printf("  lock() to every overlay painted, median %7.2f ms\n", median(toPainted));
    return 0;
}
