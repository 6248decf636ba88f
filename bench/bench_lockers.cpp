// OrbinWash beside Debian's i3lock, xtrlock and slock, under one private Xvfb: how soon
// each holds the keyboard, what a flood of input costs it, what it costs at rest, how
// much memory it holds and how soon it is back on top once covered; and, for memory and
// rest, a bare Qt Widgets window covering the screen.
#include "AppHome.h"
#include "GrabWatcher.h"
#include "ProcessStats.h"
#include "XTestInput.h"
#include "XvfbServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

using ow::bench::GrabWatcher;
using ow::test::XTestInput;

namespace {

constexpr int kRuns = 10;
constexpr int kMotions = 50000;
constexpr int kTaps = 10000; // a press and a release each
constexpr int kFloodEvents = kMotions + 2 * kTaps;
constexpr int kIdleMs = 20000; // long enough that one wake-up more or less does not show
constexpr int kHoldSeconds = 1;
constexpr QSize kScreen(1280, 800);

// NaN: not measured.
struct Figures {
    QString name;
    std::vector<double> toGrabMs{};
    std::vector<double> onTopMs{}; // negative: never came back
    double cpuPerEventUs = NAN;
    double idlePercent = NAN;
    double afterFloodPercent = NAN;
    double rssMiB = NAN;
    std::vector<double> unlockDelayMs{}; // OrbinWash only
};

double median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

void pause(int milliseconds)
{
    QThread::msleep(ulong(milliseconds));
}

// Waits until the process tree has used the CPU no more than a resting locker would
// for a little while, so that a flood's last events are counted; returns its CPU then.
qint64 settledCpuNs(qint64 pid)
{
    qint64 last = ow::bench::treeCpuNs(pid);
    for (int i = 0; i < 100; ++i) {
        pause(100);
        const qint64 now = ow::bench::treeCpuNs(pid);
        if (now - last < 500000) // 0.5 % of a core
            return now;
        last = now;
    }
    return last;
}

void measureMemory(qint64 pid, Figures& figures)
{
    pause(500);
    figures.rssMiB = double(ow::bench::treeRssKiB(pid)) / 1024.0;
}

// CPU over a while of nothing happening, in % of a core.
double idlePercent(qint64 pid)
{
    const qint64 idleBefore = ow::bench::treeCpuNs(pid);
    const qint64 idleStart = GrabWatcher::nowNs();
    pause(kIdleMs);
    return 100.0 * double(ow::bench::treeCpuNs(pid) - idleBefore) / double(GrabWatcher::nowNs() - idleStart);
}

// Everything measured while the locker under test holds the session.
void measureLocked(qint64 pid, XTestInput& input, Figures& figures)
{
    measureMemory(pid, figures);
    // Idle as a lock mostly is, before any input; and again right after the flood, where
    // what the server still sends about the input devices counts too.
    figures.idlePercent = idlePercent(pid);

    for (int run = 0; run < kRuns; ++run) {
        // From before the map request: a locker may be back on top before its reply is in.
        const qint64 start = GrabWatcher::nowNs();
        const unsigned long cover = input.createOverrideRedirectWindow(0, 0, kScreen.width(), kScreen.height());
        double onTop = -1;
        while (GrabWatcher::nowNs() - start < 300'000'000) {
            const QList<unsigned long> order = input.stackingOrder();
            if (!order.isEmpty() && order.last() != cover) {
                onTop = ms(GrabWatcher::nowNs() - start);
                break;
            }
        }
        figures.onTopMs.push_back(onTop);
        input.destroyWindow(cover);
        pause(50);
    }

    const qint64 floodBefore = settledCpuNs(pid);
    QProcess flood;
    flood.start(QStringLiteral(X11_FLOOD), {QString::number(kMotions), QString::number(kTaps)});
    flood.waitForFinished(120000);
    const qint64 floodAfter = settledCpuNs(pid);
    figures.cpuPerEventUs = double(floodAfter - floodBefore) / 1000.0 / kFloodEvents;
    figures.afterFloodPercent = idlePercent(pid);
}

void stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// OrbinWash as a user runs it: the real application with a fresh home, locked with the
// Return key in its main window and unlocked by holding both Ctrl keys.
std::optional<Figures> measureOrbinWash(const GrabWatcher& watcher, XTestInput& input)
{
    Figures figures{.name = QStringLiteral("OrbinWash")};
    const ow::test::AppHome home(QJsonObject{{QStringLiteral("OWOnboarded"), true},
                                             {QStringLiteral("OWHoldSecondsUser"), kHoldSeconds}});
    if (!home.isValid())
        return std::nullopt;
    QProcess app;
    app.setProcessEnvironment(home.environment());
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(ORBINWASH_BIN), {});
    if (!app.waitForStarted(5000))
        return std::nullopt;

    const auto mainWindow = [&] {
        for (int i = 0; i < 500; ++i) {
            if (const unsigned long window = input.findViewableWindow(QStringLiteral("OrbinWash")))
                return window;
            pause(20);
        }
        return 0ul;
    };
    const unsigned ctrlLeft = input.keycode("Control_L");
    const unsigned ctrlRight = input.keycode("Control_R");
    for (int run = 0; run <= kRuns; ++run) {
        const unsigned long window = mainWindow();
        if (!window)
            return std::nullopt;
        input.focus(window);
        pause(300);
        const qint64 pressed = GrabWatcher::nowNs();
        input.tap(input.keycode("Return"));
        const qint64 grabbed = watcher.waitForGrab(pressed, 5000);
        if (grabbed < 0)
            return std::nullopt;
        figures.toGrabMs.push_back(ms(grabbed - pressed));
        if (run == kRuns)
            break; // the last lock is kept for the rest
        pause(300);
        input.key(ctrlLeft, true);
        input.key(ctrlRight, true);
        const qint64 held = GrabWatcher::nowNs();
        const qint64 released = watcher.waitForUngrab(held, 5000);
        input.key(ctrlRight, false);
        input.key(ctrlLeft, false);
        if (released < 0)
            return std::nullopt;
        figures.unlockDelayMs.push_back(ms(released - held) - kHoldSeconds * 1000.0);
    }
    figures.toGrabMs.erase(figures.toGrabMs.begin()); // the first lock also loads what a lock needs
    measureLocked(app.processId(), input, figures);
    stop(app);
    return figures;
}

// A peer started as a command, the way a user's shortcut starts it. The copies have no
// set-group-id bit and no file capabilities: root needs neither, and this container's
// bounding set refuses slock's.
std::optional<Figures> measurePeer(const QString& name, const QStringList& arguments, const QTemporaryDir& bin,
                                   const GrabWatcher& watcher, XTestInput& input)
{
    Figures figures{.name = name};
    const QString installed = QStandardPaths::findExecutable(name);
    const QString copy = bin.filePath(name);
    if (installed.isEmpty() || !(QFile::exists(copy) || QFile::copy(installed, copy)))
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (name == QLatin1String("xtrlock")) // refuses an account without a password hash
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(SHADOW_SHIM));
    for (int run = 0; run < kRuns; ++run) {
        QProcess locker;
        locker.setProcessEnvironment(environment);
        locker.setStandardOutputFile(QProcess::nullDevice());
        locker.setStandardErrorFile(QProcess::nullDevice()); // slock warns at every start
        input.focus(watcher.probeWindow());
        pause(100);
        const qint64 started = GrabWatcher::nowNs();
        locker.start(copy, arguments);
        const qint64 grabbed = watcher.waitForGrab(started, 5000);
        if (grabbed < 0) {
            stop(locker);
            return std::nullopt;
        }
        figures.toGrabMs.push_back(ms(grabbed - started));
        if (run == kRuns - 1)
            measureLocked(locker.processId(), input, figures);
        stop(locker);
        pause(100);
    }
    return figures;
}

// The bare Qt window, started like a peer; it takes no grab, so only rest is measured.
std::optional<Figures> measureBareWindow(XTestInput& input)
{
    Figures figures{.name = QStringLiteral("Qt window")};
    QProcess window;
    window.setStandardErrorFile(QProcess::nullDevice());
    window.start(QStringLiteral(BARE_WINDOW), {});
    bool shown = false;
    for (int i = 0; i < 500 && !shown; ++i) {
        shown = input.findViewableWindow(QStringLiteral("Bare Qt window")) != 0;
        pause(20);
    }
    if (shown) {
        measureMemory(window.processId(), figures);
        figures.idlePercent = idlePercent(window.processId());
    }
    stop(window);
    return shown ? std::optional(figures) : std::nullopt;
}

QString cell(double value, int precision)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    return value < 0 ? QStringLiteral("never") : QString::number(value, 'f', precision);
}

QString ratio(double ours, double theirs)
{
    if (std::isnan(ours) || std::isnan(theirs) || ours < 0 || theirs <= 0)
        return QStringLiteral("-");
    return QString::number(ours / theirs, 'f', ours / theirs < 0.1 ? 3 : 2) + QLatin1Char('x');
}

void print(const std::vector<Figures>& all)
{
    struct Row {
        const char* label;
        std::function<double(const Figures&)> value;
        int precision;
    };
    const std::vector<Row> rows{
        {"command to keyboard grab, ms", [](const Figures& f) { return median(f.toGrabMs); }, 2},
        {"CPU per swallowed event, us", [](const Figures& f) { return f.cpuPerEventUs; }, 3},
        {"CPU locked and idle, % of a core", [](const Figures& f) { return f.idlePercent; }, 3},
        {"CPU in the 20 s after the flood, %", [](const Figures& f) { return f.afterFloodPercent; }, 3},
        {"resident memory, MiB", [](const Figures& f) { return f.rssMiB; }, 1},
        {"back on top once covered, ms", [](const Figures& f) { return median(f.onTopMs); }, 2},
    };
    std::printf("Lockers under one Xvfb (%dx%d), medians of %d runs; a flood is %d motions and %d key taps\n\n",
                kScreen.width(), kScreen.height(), kRuns, kMotions, kTaps);
    std::printf("%-34s", "");
    for (const Figures& figures : all)
        std::printf("%12s", qPrintable(figures.name));
    std::printf("\n");
    for (const Row& row : rows) {
        std::printf("%-34s", row.label);
        for (const Figures& figures : all)
            std::printf("%12s", qPrintable(cell(row.value(figures), row.precision)));
        std::printf("\n");
    }
    std::printf("\nOrbinWash's figure over each peer's\n");
    for (const Row& row : rows) {
        std::printf("%-34s%12s", row.label, "");
        for (size_t i = 1; i < all.size(); ++i)
            std::printf("%12s", qPrintable(ratio(row.value(all[0]), row.value(all[i]))));
        std::printf("\n");
    }
    std::printf("\nOrbinWash unlocks %.1f ms after the %d s hold (median)\n", median(all[0].unlockDelayMs),
                kHoldSeconds);
    std::printf("OrbinWash holds %.1f MiB more than the bare Qt window\n", all[0].rssMiB - all.back().rssMiB);
}

// The 1-, 5- and 15-minute load averages: the machine's other work shows in every figure.
QByteArray loadAverages()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ow::test::XvfbServer xvfb;
    if (!xvfb.becomeSessionDisplay())
        return 1;
    GrabWatcher watcher(xvfb.display());
    XTestInput input(xvfb.display());
    QTemporaryDir bin;
    if (!watcher.isOpen() || !input.isOpen() || !bin.isValid()) {
        std::fprintf(stderr, "Could not connect to Xvfb\n");
        return 1;
    }

    const QByteArray loadBefore = loadAverages();
    std::vector<Figures> all;
    const auto ours = measureOrbinWash(watcher, input);
    if (!ours) {
        std::fprintf(stderr, "OrbinWash did not lock and unlock as expected\n");
        return 1;
    }
    all.push_back(*ours);
    const std::vector<std::pair<QString, QStringList>> peers{
        {QStringLiteral("i3lock"), {QStringLiteral("--nofork")}},
        {QStringLiteral("xtrlock"), {}},
        {QStringLiteral("slock"), {}},
    };
    for (const auto& [name, arguments] : peers) {
        const auto figures = measurePeer(name, arguments, bin, watcher, input);
        if (!figures) {
            std::fprintf(stderr, "%s is missing or did not lock; make bench installs it\n", qPrintable(name));
            return 1;
        }
        all.push_back(*figures);
    }
    const auto bare = measureBareWindow(input);
    if (!bare) {
        std::fprintf(stderr, "The bare Qt window did not show\n");
        return 1;
    }
    all.push_back(*bare);
    print(all);
    std::printf("Load averages (1, 5, 15 min) before: %s; after: %s\n", loadBefore.constData(),
                loadAverages().constData());
    return 0;
}
