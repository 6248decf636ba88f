#include "LinuxDisplaySleepAssertion.h"
#include "LogindPowerKeyInhibitor.h"
#include "LockController.h"
#include "MemoryUserDefaults.h"
#include "ProcessLockWatchdog.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "X11Connection.h"
#include "X11CursorVisibility.h"
#include "X11InputGrab.h"
#include "X11Probe.h"
#include "X11WindowStacking.h"
#include "XTestInput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

// Last: Xlib's macros (None, Bool, Status...) would break the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>

using namespace ow;
using ow::test::X11Probe;
using ow::test::XTestInput;

namespace {

// What the process and the X server hold on our behalf at one moment.
struct Usage {
    qsizetype fds = 0;
    long rssKb = 0;
    int xClients = 0;
    long xResources = 0;
};

qsizetype openFds()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

long rssKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

class SoakTest : public ::testing::Test {
protected:
    SoakTest()
        : input(qEnvironmentVariable("DISPLAY"))
        , xres(X11Connection::open())
    {
        controller = std::make_unique<LockController>(
            std::make_unique<TapLockEngine>(std::make_unique<X11InputGrab>(),
                                            std::make_unique<LogindPowerKeyInhibitor>(), clock),
            LockController::Services{clock, defaults, cursor, sleep, screens, stacking,
                                     watchdog});
    }

    ~SoakTest() override { controller->unlock(); }

    void SetUp() override
    {
        ASSERT_TRUE(input.isOpen());
        ASSERT_TRUE(xres);
        int eventBase = 0, errorBase = 0;
        ASSERT_TRUE(XResQueryExtension(xres->display(), &eventBase, &errorBase));
        ASSERT_TRUE(probe.start());
        ASSERT_TRUE(probe.nextLine().startsWith(QLatin1String("ready")));
        input.motion(100, 100);
        probe.received();
    }

    // Lets Qt map, paint and then destroy what the last lock or unlock left behind.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    // The total over every client of the server, which only this test binary uses.
    Usage usage()
    {
        Usage now{openFds(), rssKb(), 0, 0};
        Display* display = xres->display();
        XResClient* clients = nullptr;
        int count = 0;
        if (!XResQueryClients(display, &count, &clients))
            return now;
        now.xClients = count;
        for (int i = 0; i < count; ++i) {
            XResType* types = nullptr;
            int typeCount = 0;
            // A client that has just gone answers BadValue, which X11Connection only logs.
            if (!XResQueryClientResources(display, clients[i].resource_base, &typeCount, &types))
                continue;
            for (int t = 0; t < typeCount; ++t)
                now.xResources += long(types[t].count);
            XFree(types);
        }
        XFree(clients);
        return now;
    }

    void cycle(int i)
    {
        ASSERT_TRUE(controller->lock()) << "cycle " << i;
        settle();
        if (i % 50 == 0) {
            EXPECT_TRUE(input.keyboardGrabbedByOther()) << "cycle " << i;
        }
        controller->unlock();
        settle();
    }

    QtClock clock;
    MemoryUserDefaults defaults;
    X11CursorVisibility cursor;
    LinuxDisplaySleepAssertion sleep;
    QtScreenList screens;
    X11WindowStacking stacking;
    QTemporaryDir records;
    // The real helper: each lock spawns it and opens a socket to it, both of which must go.
    ProcessLockWatchdog watchdog{QStringLiteral(WATCHDOG_BIN),
                                 records.filePath(QStringLiteral("watchdog-record"))};
    std::unique_ptr<LockController> controller;
    XTestInput input;
    std::unique_ptr<X11Connection> xres;
    X11Probe probe{X11_PROBE};
};

TEST_F(SoakTest, FiveHundredLockCyclesLeakNothing)
{
    constexpr int kWarmUp = 20;
    constexpr int kCycles = 500;
    // Qt fills font, glyph and pixmap caches during the first locks; only growth after counts.
    for (int i = 0; i < kWarmUp; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle(i));
    const Usage before = usage();

    QElapsedTimer timer;
    timer.start();
    int done = 0;
    // A failed lock stops the cycles, but the counts still say what ran out.
    while (done < kCycles && !HasFatalFailure())
        cycle(done++);
    const qint64 ms = timer.elapsed();
    const Usage after = usage();

    std::printf("%d cycles in %lld ms; fds %lld -> %lld, RSS %ld -> %ld KiB, "
                "X clients %d -> %d, X resources %ld -> %ld\n",
                done, ms, static_cast<long long>(before.fds),
                static_cast<long long>(after.fds), before.rssKb, after.rssKb, before.xClients,
                after.xClients, before.xResources, after.xResources);
    // One leaked object per cycle shows as hundreds; the slack absorbs allocator noise.
    EXPECT_LE(after.fds, before.fds + 2);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine, so there RSS grows without a leak.
    EXPECT_LE(after.rssKb, before.rssKb + 4096);
#endif
    EXPECT_LE(after.xClients, before.xClients); // a connection left open is one more client
    EXPECT_LE(after.xResources, before.xResources + 16);
    EXPECT_FALSE(controller->isLocked());
    EXPECT_FALSE(input.keyboardGrabbedByOther());
}

TEST_F(SoakTest, AHundredThousandEventsDuringOneLockReachNobody)
{
    ASSERT_TRUE(controller->lock());
    settle();
    Display* display = xres->display();
    const KeyCode letters[] = {XKeysymToKeycode(display, XStringToKeysym("a")),
                               XKeysymToKeycode(display, XStringToKeysym("s")),
                               XKeysymToKeycode(display, XStringToKeysym("d")),
                               XKeysymToKeycode(display, XStringToKeysym("f"))};

    // Half motions, half key presses and releases, interleaved the way a wipe produces them.
    constexpr int kEvents = 100'000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kEvents / 2; ++i) {
        XTestFakeMotionEvent(display, 0, i % 1000, (i / 1000) % 700, 0);
        XTestFakeKeyEvent(display, letters[(i / 2) % 4], i % 2 == 0, 0);
        // The grab reads key events on our event loop: let it keep up, and bound the queues.
        if (i % 1000 == 999) {
            XSync(display, False);
            QCoreApplication::processEvents();
        }
    }
    XSync(display, False);
    settle();
    std::printf("%d events injected and drained in %lld ms\n", kEvents, timer.elapsed());

    EXPECT_EQ(probe.received(), QStringList());
    EXPECT_TRUE(controller->isLocked());
    EXPECT_TRUE(input.keyboardGrabbedByOther());
    EXPECT_TRUE(input.pointerGrabbedByOther());
}

} // namespace
