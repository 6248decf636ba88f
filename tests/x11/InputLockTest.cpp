#include "HoldDuration.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LinuxPlatform.h"
#include "LockController.h"
#include "LockCycle.h"
#include "LockWindow.h"
#include "TapLockEngine.h"
#include "X11Connection.h"
#include "X11InputGrab.h"
#include "X11WindowStacking.h"
#include "XTestInput.h"
#include "X11Probe.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include <unistd.h>

// Last: Xlib's macros (None, Bool, Status...) would break the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

using namespace ow;
using ow::test::X11Probe;
using ow::test::XTestInput;

namespace {

class InputLockTest : public ::testing::Test {
protected:
    InputLockTest()
        : input(qEnvironmentVariable("DISPLAY"))
    {
        platform.defaults().setValue(DefaultsKey::HoldSecondsUser, 1);
        controller = std::make_unique<LockController>(std::make_unique<TapLockEngine>(platform),
                                                      LockController::Services::of(platform));
        // The unlock's own moment, so that polling for it adds nothing to the measured hold.
        controller->setOnUnlock([this] {
            unlocked = true;
            unlockedAt = sinceStart.elapsed();
        });
        sinceStart.start();
    }

    ~InputLockTest() override
    {
        controller->unlock();
        for (const char* name : {"Control_L", "Control_R", "Super_L", "Super_R"})
            input.key(input.keycode(name), false);
        input.sync();
    }

    void SetUp() override
    {
        ASSERT_TRUE(input.isOpen());
        ASSERT_TRUE(probe.start());
        input.motion(100, 100);
        probe.received();
    }

    bool unlockedWithin(int ms) { return QTest::qWaitFor([this] { return unlocked; }, ms); }

    void injectEverything()
    {
        const unsigned a = input.keycode("a");
        input.tap(a);
        input.tap(input.keycode("Return"));
        input.tap(input.keycode("Escape"));
        input.click(1);
        input.click(3);
        input.click(2);
        input.scroll(3);
        input.scroll(-3);
        for (int i = 0; i < 20; ++i)
            input.motion(20 + i * 10, 30 + i * 5);
        input.sync();
    }

    QTemporaryDir records;
    // The real watchdog helper: each lock spawns it and opens a socket to it, both of which must go.
    LinuxPlatform platform{{.defaultsPath = records.filePath(QStringLiteral("defaults.json")),
                            .watchdogHelper = QStringLiteral(WATCHDOG_BIN),
                            .watchdogRecord = records.filePath(QStringLiteral("watchdog-record"))}};
    bool unlocked = false;
    QElapsedTimer sinceStart;
    qint64 unlockedAt = -1;
    std::unique_ptr<LockController> controller;
    XTestInput input;
    X11Probe probe{X11_PROBE};
};

TEST_F(InputLockTest, AnotherClientReceivesNothingWhileLockedAndEverythingAfter)
{
    // A key, a click and a move to (x, y) reach the probe; empty when all three did.
    const auto missedByTheProbe = [&](int x) {
        input.tap(input.keycode("a"));
        input.click(1);
        input.motion(x, 150);
        QStringList missed{QStringLiteral("key-press %1").arg(input.keycode("a")), QStringLiteral("button-press 1"),
                           QStringLiteral("motion %1 150").arg(x)};
        for (const QString& line : probe.received())
            missed.removeAll(line);
        return missed;
    };
    EXPECT_EQ(missedByTheProbe(150), QStringList()); // as it does when nothing is locked

    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(input.keyboardGrabbedByOther());
    EXPECT_TRUE(input.pointerGrabbedByOther());
    injectEverything();
    QTest::qWait(100);
    EXPECT_EQ(probe.received(), QStringList());

    controller->unlock();
    EXPECT_FALSE(input.keyboardGrabbedByOther());
    probe.refocus();
    EXPECT_EQ(missedByTheProbe(160), QStringList());
}

TEST_F(InputLockTest, HoldingBothCtrlOrBothSuperKeysUnlocksAfterTheHoldDuration)
{
    for (const auto& keys : {std::pair{"Control_L", "Control_R"}, std::pair{"Super_L", "Super_R"}}) {
        SCOPED_TRACE(keys.first);
        ASSERT_TRUE(controller->lock());
        unlocked = false;
        input.key(input.keycode(keys.first), true);
        input.key(input.keycode(keys.second), true);
        const qint64 pressedAt = sinceStart.elapsed();
        ASSERT_TRUE(unlockedWithin(3000));
        const qint64 ms = unlockedAt - pressedAt;
        EXPECT_GE(ms, 1000 - 20); // the hold starts a moment after the keys went down
        EXPECT_LE(ms, 1100);
        input.key(input.keycode(keys.second), false);
        input.key(input.keycode(keys.first), false);
        EXPECT_FALSE(controller->isLocked());
        EXPECT_FALSE(input.keyboardGrabbedByOther());
        // The releases came after the unlock: they go to the focused client, nothing else did.
        for (const QString& line : probe.received())
            EXPECT_TRUE(line.contains(QLatin1String("key-release"))) << line.toStdString();
    }
}

// Hundreds of unlock-key events read at once, more than the grab keeps between two
// reads: the lock must still follow each key to its last state.
TEST_F(InputLockTest, AFloodOfUnlockKeyTapsEndsInTheRightState)
{
    ASSERT_TRUE(controller->lock());
    QTest::qWait(200);
    const unsigned left = input.keycode("Control_L");
    const unsigned right = input.keycode("Control_R");
    // The main loop does not run meanwhile: all of it is read at once.
    input.key(right, true);
    for (int i = 0; i < 300; ++i)
        input.tap(left);
    input.key(right, false); // right Ctrl's last word, long before the end
    for (int i = 0; i < 300; ++i)
        input.tap(left);
    input.key(left, true);
    EXPECT_FALSE(unlockedWithin(1500)) << "only left Ctrl is held";
    EXPECT_EQ(probe.received(), QStringList()); // nor did any of the flood reach another client

    // The last key of a burst counts though nothing follows it.
    for (int i = 0; i < 300; ++i)
        input.tap(input.keycode("Shift_L"));
    input.key(right, true);
    const qint64 pressedAt = sinceStart.elapsed();
    EXPECT_TRUE(unlockedWithin(3000));
    EXPECT_LE(unlockedAt - pressedAt, 1100);
    EXPECT_FALSE(controller->isLocked());
}

// Ctrl+Alt+KP_Divide with the keymap option that gives it the server's "ungrab" action
// breaks every grab; the lock takes them back at the server's notice, not a tick later.
TEST_F(InputLockTest, AGrabTheServerBreaksIsTakenBackAtOnce)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-option"), QStringLiteral("grab:break_actions")}), 0);
    const auto restoreKeymap = qScopeGuard([] { QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-option"), QString()}); });
    ASSERT_TRUE(controller->lock());
    const unsigned chord[] = {input.keycode("Control_L"), input.keycode("Alt_L"), input.keycode("KP_Divide")};
    for (unsigned key : chord)
        input.key(key, true);
    input.sync();
    ASSERT_FALSE(input.keyboardGrabbedByOther()) << "the chord did not break the grab";
    EXPECT_TRUE(QTest::qWaitFor([&] { return input.keyboardGrabbedByOther() && input.pointerGrabbedByOther(); }, 300));
    for (unsigned key : chord)
        input.key(key, false);
    probe.received(); // the chord's own keys, while nothing held the keyboard
    injectEverything();
    EXPECT_EQ(probe.received(), QStringList());
}

TEST_F(InputLockTest, ACompetingGrabFailsTheLockWithNothingChangedUnlessItEndsSoon)
{
    std::unique_ptr<X11Connection> grab = test::competingGrab();
    ASSERT_NE(grab, nullptr);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(controller->lock());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(controller->isLocked());
    EXPECT_TRUE(controller->lockWindows().isEmpty());
    QApplication::processEvents();
    EXPECT_EQ(input.viewableOverrideRedirectWindows(), QList<unsigned long>());

    // The lock blocks this thread while it waits, so the other client gives up from another.
    std::thread giveUp([&grab] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        grab.reset();
    });
    timer.restart();
    EXPECT_TRUE(controller->lock());
    EXPECT_GT(timer.elapsed(), 200);
    giveUp.join();
    injectEverything();
    EXPECT_EQ(probe.received(), QStringList());
}

TEST_F(InputLockTest, AWindowMappedOrRaisedOverTheLockIsBelowTheOverlayWithinTenMs)
{
    ASSERT_TRUE(controller->lock());
    ASSERT_EQ(controller->lockWindows().size(), 1);
    const unsigned long overlay = controller->lockWindows()[0]->winId();
    ASSERT_TRUE(QTest::qWaitFor([&] { return input.isViewable(overlay); }, 2000));

    // Qt raises a window it has just shown once more on its own; let that pass, so that
    // only the guard can put the overlay back on top.
    QTest::qWait(500);
    unsigned long popup = 0;
    // Milliseconds until the overlay is above the popup again, polled as finely as the
    // round trips allow; -1 if it never is.
    const auto backOnTop = [&] {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000) {
            QCoreApplication::processEvents();
            const QList<unsigned long> order = input.stackingOrder();
            if (order.indexOf(popup) >= 0 && order.indexOf(popup) < order.indexOf(overlay))
                return double(timer.nsecsElapsed()) / 1e6;
        }
        return -1.0;
    };
    std::vector<double> ms;
    for (int i = 0; i < 5; ++i) {
        popup = input.createOverrideRedirectWindow(0, 0, 1280, 800); // the whole screen
        ms.push_back(backOnTop());
        QTest::qWait(50);
        input.focus(popup); // raised again once it was below: a menu or a window asking for attention
        ms.push_back(backOnTop());
        input.destroyWindow(popup);
    }
    for (double one : ms)
        EXPECT_GE(one, 0.0) << "the overlay stayed below";
    std::sort(ms.begin(), ms.end());
    // The median, so that one scheduling hiccup of a loaded machine does not decide.
    EXPECT_LE(ms[ms.size() / 2], 10.0);
}

// What the process and the X server hold on our behalf at one moment.
struct Usage {
    qsizetype fds = 0;
    long rssKb = 0;
    int xClients = 0;
    long xResources = 0;
};

// The total over every client of the server, which only this test binary uses.
Usage usage(Display* display)
{
    Usage now;
    now.fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly))
        now.rssKb = statm.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
    XResClient* clients = nullptr;
    if (!XResQueryClients(display, &now.xClients, &clients))
        return now;
    for (int i = 0; i < now.xClients; ++i) {
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

TEST_F(InputLockTest, FiveHundredLockCyclesLeakNothing)
{
    const std::unique_ptr<X11Connection> xres = X11Connection::open();
    int eventBase = 0, errorBase = 0;
    ASSERT_TRUE(xres && XResQueryExtension(xres->display(), &eventBase, &errorBase));
    const auto cycle = [&](int i) {
        ASSERT_TRUE(controller->lock()) << "cycle " << i;
        QTest::qWait(0); // lets Qt map, paint and then destroy what the last lock left behind
        if (i % 50 == 0) {
            EXPECT_TRUE(input.keyboardGrabbedByOther()) << "cycle " << i;
        }
        controller->unlock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    };
    // Qt fills font, glyph and pixmap caches during the first locks; only growth after counts.
    for (int i = 0; i < 20; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle(i));
    const Usage before = usage(xres->display());
    int done = 0;
    // A failed lock stops the cycles, but the counts still say what ran out.
    while (done < 500 && !HasFatalFailure())
        cycle(done++);
    const Usage after = usage(xres->display());
    // One leaked object per cycle shows as hundreds; the slack absorbs allocator noise.
    EXPECT_LE(after.fds, before.fds + 2);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine, so there RSS grows without a leak.
    EXPECT_LE(after.rssKb, before.rssKb + 4096);
#endif
    EXPECT_LE(after.xClients, before.xClients); // a connection left open is one more client
    EXPECT_LE(after.xResources, before.xResources + 16);
    EXPECT_FALSE(input.keyboardGrabbedByOther());
}

TEST(InputGrabWithoutX, NoDisplayOrAWaylandSessionFailsCleanly)
{
    const QByteArray saved = qgetenv("DISPLAY");
    X11InputGrab grab;
    qputenv("DISPLAY", ":999");
    EXPECT_FALSE(grab.grab([](quint64) {}));
    qputenv("DISPLAY", saved);
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_FALSE(grab.grab([](quint64) {}));
    qunsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(grab.grab([](quint64) {}));
    grab.release();
}

TEST(X11Errors, AWindowThatVanishedNeverEndsTheProcess)
{
    // Xlib's default handler would exit on the BadWindow this causes.
    X11WindowStacking stacking;
    stacking.keepOnTop({WId(0x7ffffff)});
    stacking.release(); // closing the connection reads the error
    SUCCEED();
}

TEST(DisplaySleepAssertion, FallsBackToTheXScreenSaverWithoutASessionBus)
{
    LinuxDisplaySleepAssertion sleep(LinuxDisplaySleepAssertion::Fallback::X11ScreenSaver);
    const quint32 id = sleep.create(QStringLiteral("test"));
    EXPECT_NE(id, 0u);
    sleep.release(id);
    sleep.release(id); // a second release is harmless
}

} // namespace
