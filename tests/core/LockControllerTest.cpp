#include "CountdownLabel.h"
#include "FadingLabel.h"
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeInputGrab.h"
#include "FakeInputGuard.h"
#include "FakeLockWatchdog.h"
#include "FakePowerKeyInhibitor.h"
#include "FakeScreenList.h"
#include "FakeSystemLog.h"
#include "FakeWindowBlitter.h"
#include "FakeWindowStacking.h"
#include "GuardLockEngine.h"
#include "HoldBarView.h"
#include "HoldDuration.h"
#include "KioskLockEngine.h"
#include "LockController.h"
#include "LockWindow.h"
#include "Localizer.h"
#include "MemoryUserDefaults.h"
#include "ModifierFlags.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

using namespace ow;
using namespace std::chrono_literals;

namespace {

using Ms = std::chrono::milliseconds;
constexpr quint64 kBoth = ModifierFlags::LeftCommand | ModifierFlags::RightCommand | ModifierFlags::Command;
constexpr quint64 kLeftOnly = ModifierFlags::LeftCommand | ModifierFlags::Command;
constexpr quint64 kShift = ModifierFlags::LeftShift | ModifierFlags::Shift;
constexpr auto kTick = LockController::kHoldTickPeriod;

class LockControllerTest : public ::testing::Test {
protected:
    LockControllerTest() { controller->setOnUnlock([this] { unlockedAt.push_back(clock.monotonicNow()); }); }

    LockController::Services services(ScreenList& list)
    {
        return {clock, defaults, cursor, sleep, list, stacking, blitter, watchdog};
    }

    // An engine on fakes; the controller's engine owns them.
    std::unique_ptr<TapLockEngine> engine(FakeInputGrab* input = new FakeInputGrab,
                                          FakePowerKeyInhibitor* inhibitor = new FakePowerKeyInhibitor)
    {
        return std::make_unique<TapLockEngine>(std::unique_ptr<InputGrab>(input),
                                               std::unique_ptr<PowerKeyInhibitor>(inhibitor), clock);
    }

    // Reports a modifier change the way the real grab does, and lets the main queue run.
    void press(quint64 flags)
    {
        grab->report(flags);
        clock.runPosted();
    }

    // What a refused or ended lock leaves behind: nothing.
    void expectNothingHeld(const LockController& lock)
    {
        EXPECT_FALSE(lock.isLocked());
        EXPECT_FALSE(watchdog.isArmed);
        EXPECT_TRUE(cursor.visible());
        EXPECT_TRUE(sleep.held.isEmpty());
        EXPECT_TRUE(lock.lockWindows().isEmpty());
        EXPECT_TRUE(stacking.guarded.isEmpty());
        EXPECT_EQ(clock.pendingTimers(), 0);
    }

    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    FakeDisplaySleepAssertion sleep;
    FakeScreenList screens{{QRect(0, 0, 800, 600)}};
    FakeWindowStacking stacking;
    FakeWindowBlitter blitter{clock};
    FakeLockWatchdog watchdog;
    FakeInputGrab* grab = new FakeInputGrab;
    FakePowerKeyInhibitor* powerKeys = new FakePowerKeyInhibitor;
    std::unique_ptr<LockController> controller = std::make_unique<LockController>(engine(grab, powerKeys), services(screens));
    std::vector<MonoTime> unlockedAt;
};

// Something that happens at a time after the lock began.
struct Step {
    Ms at;
    std::optional<quint64> flags;
    int holdSeconds = 0; // a new user hold duration, when not 0
    Ms stall{}; // the main loop then stays busy this long
};

struct HoldRow {
    const char* name;
    int holdSecondsAtLock; // 0: the default
    std::vector<Step> steps;
    std::chrono::nanoseconds unlockAt;
    bool byHoldTick; // within one hold tick after unlockAt, else exactly then
};

class LockTimingTest : public LockControllerTest, public ::testing::WithParamInterface<HoldRow> {};

TEST_P(LockTimingTest, UnlocksWhenTheKeysWereHeldLongEnoughOrTheSafetyTimeIsUp)
{
    const HoldRow& row = GetParam();
    if (row.holdSecondsAtLock != 0)
        defaults.setValue(DefaultsKey::HoldSecondsUser, row.holdSecondsAtLock);
    const MonoTime begun = clock.monotonicNow();
    ASSERT_TRUE(controller->lock());
    for (const Step& step : row.steps) {
        clock.advance(begun + step.at - clock.monotonicNow());
        if (step.holdSeconds != 0)
            defaults.setValue(DefaultsKey::HoldSecondsUser, step.holdSeconds);
        if (step.flags)
            press(*step.flags);
        clock.stall(step.stall);
    }
    clock.advance(begun + 1000s - clock.monotonicNow());
    ASSERT_EQ(unlockedAt.size(), 1u);
    const auto took = unlockedAt[0] - begun;
    EXPECT_GE(took, row.unlockAt);
    EXPECT_LT(took, row.unlockAt + (row.byHoldTick ? kTick : 1ns));
    EXPECT_EQ(clock.pendingTimers(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, LockTimingTest, ::testing::Values(
    HoldRow{"BothKeysForTheHoldDuration", 0, {{0ms, kBoth}}, 3s, true},
    HoldRow{"ReleaseAt2900msRestartsFromZero", 0, {{0ms, kBoth}, {2900ms, kLeftOnly}, {7900ms, kBoth}}, 10900ms, true},
    // One Command key alone, with anything else, never starts a hold: only the safety timer ends it.
    HoldRow{"OneKeyOnlyEndsAtTheSafetyTime", 0,
            {{0ms, kLeftOnly | kShift}, {5s, ModifierFlags::RightCommand | ModifierFlags::Command | ModifierFlags::CapsLock}},
            900s, false},
    HoldRow{"ShiftAndOptionJoiningDoNotDisturbTheHold", 0,
            {{0ms, kBoth}, {1500ms, kBoth | kShift}, {1600ms, kBoth | kShift | ModifierFlags::LeftOption | ModifierFlags::Option}},
            3s, true},
    // Ticks missed while the main loop was busy come as one late tick: the hold is timed, not counted.
    HoldRow{"BusyMainLoopDoesNotLengthenTheHold", 0, {{0ms, kBoth}, {1s, std::nullopt, 0, 1500ms}}, 3s, true},
    HoldRow{"HoldDurationChangeTakesEffectAtTheNextTick", 10, {{0ms, kBoth}, {2s, std::nullopt, 1}}, 2s, true},
    HoldRow{"UserHoldDuration", 5, {{0ms, kBoth}}, 5s, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(LockControllerTest, RefusedEngineLeavesEverythingUnlocked)
{
    grab->refuse = true;
    EXPECT_FALSE(controller->lock());
    expectNothingHeld(*controller);
    EXPECT_EQ(powerKeys->acquireCalls, 0);
    // The next attempt goes on even without a sleep assertion or the power keys.
    grab->refuse = false;
    sleep.available = false;
    powerKeys->available = false;
    EXPECT_TRUE(controller->lock());
    EXPECT_EQ(controller->sleepAssertion(), 0u);
}

// Everything a lock set up is undone before onUnlock runs, once, whoever ends it.
TEST_F(LockControllerTest, LockCoversEveryScreenAndUnlockUndoesAllBeforeOnUnlock)
{
    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)});
    ASSERT_TRUE(controller->lock());
    ASSERT_EQ(controller->lockWindows().size(), 2);
    EXPECT_EQ(stacking.guarded, (QList<WId>{controller->lockWindows()[0]->winId(),
                                            controller->lockWindows()[1]->winId()}));
    EXPECT_FALSE(cursor.visible());
    EXPECT_EQ(sleep.held.size(), 1);
    EXPECT_TRUE(powerKeys->held);
    const QList<LockWindow*> first = controller->lockWindows();
    EXPECT_TRUE(controller->lock()); // changes nothing
    EXPECT_EQ(controller->lockWindows(), first);
    EXPECT_EQ(cursor.hideCount, 1);
    EXPECT_EQ(grab->grabCalls, 1);

    QList<QPointer<LockWindow>> windows(first.begin(), first.end());
    int calls = 0;
    controller->setOnUnlock([&] {
        ++calls;
        expectNothingHeld(*controller);
        EXPECT_FALSE(grab->grabbed);
        EXPECT_FALSE(powerKeys->held);
        for (const auto& window : windows)
            EXPECT_TRUE(!window || !window->isVisible());
    });
    controller->unlock();
    controller->unlock();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(grab->releaseCalls, 1);
    EXPECT_EQ(powerKeys->releaseCalls, 1);
    screens.setScreens({QRect(0, 0, 800, 600)}); // no longer watched
    EXPECT_TRUE(controller->lockWindows().isEmpty());
}

TEST_F(LockControllerTest, BarsAndHintsFollowTheHoldAcrossAScreenChange)
{
    ASSERT_TRUE(controller->lock());
    EXPECT_EQ(controller->holdHints()[0]->alpha(), 0.0);
    press(kBoth);
    EXPECT_EQ(controller->holdHints()[0]->alpha(), 1.0);
    clock.advance(1s);
    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 640, 480)});
    ASSERT_EQ(controller->lockWindows().size(), 2);
    EXPECT_EQ(stacking.guarded.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(controller->holdHints()[i]->alpha(), 1.0); // at once, not faded in
        EXPECT_EQ(controller->holdBars()[i]->progress(), 0.0); // until the next tick
    }
    clock.advance(1900ms);
    for (HoldBarView* bar : controller->holdBars())
        EXPECT_NEAR(bar->progress(), 2.9 / 3.0, 0.02);
    press(kLeftOnly);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(controller->holdBars()[i]->progress(), 0.0);
        EXPECT_EQ(controller->holdHints()[i]->alpha(), 0.0);
    }
}

TEST_F(LockControllerTest, CountdownStartsAtFifteenMinutesAndNeverGoesNegative)
{
    const auto shown = [this] { return controller->countdownLabels().value(0)->text().toStdString(); };
    const auto left = [](int minutes, int seconds) { return L("lock.auto_unlock_countdown", minutes, seconds).toStdString(); };
    for (int lock = 0; lock < 2; ++lock) { // each lock gets a fresh 900 s
        ASSERT_TRUE(controller->lock());
        EXPECT_EQ(shown(), left(15, 0));
        clock.advance(899s);
        EXPECT_EQ(shown(), left(0, 1));
        // A screen change handled before the late safety timer shows zero, not a negative time.
        clock.stall(2s);
        screens.setScreens({QRect(0, 0, 1024, 768)});
        ASSERT_TRUE(controller->isLocked());
        EXPECT_EQ(shown(), left(0, 0));
        clock.advance(0s);
        EXPECT_FALSE(controller->isLocked());
    }
}

struct CountdownRow {
    const char* name;
    Ms late; // how long after each second the busy main loop lets the tick run
    bool tilesRefused = false; // the window takes no tiles, as on Wayland
    bool putsLater = true; // false: tiles are put at once only, as without the server's waits
};

class CountdownTest : public LockControllerTest, public ::testing::WithParamInterface<CountdownRow> {};

// Every second from 15:00 down is shown once, in order, on screen: a tick repaints part of
// the line only, or puts tiles, now or ahead of time, which must leave the same pixels as
// shaping and painting the whole text. The line kept for repaints swaps the digits' glyphs
// of the line shaped before, which must draw what shaping the new text would; with tiles it
// is brought up to date at each tick only, which then comes every other second.
TEST_P(CountdownTest, ShowsEverySecondOnceInOrder)
{
    blitter.refuses = GetParam().tilesRefused;
    blitter.putsLater = GetParam().putsLater;
    const MonoTime begun = clock.monotonicNow();
    ASSERT_TRUE(controller->lock());
    LockWindow* window = controller->lockWindows()[0];
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    CountdownLabel* label = controller->countdownLabels()[0];
    // What the main loop does between ticks: the tiles are drawn right after a paint.
    const auto idle = [this] {
        QCoreApplication::processEvents();
        clock.runPosted();
    };
    idle();
    ASSERT_EQ(label->putsTiles(), !GetParam().tilesRefused);
    const auto* screen = dynamic_cast<const QImage*>(window->backingStore()->paintDevice());
    ASSERT_NE(screen, nullptr);
    CountdownLabel shaped(label->font().pixelSize(), label->font().weight(), label->palette().color(QPalette::WindowText));
    QPalette colours = shaped.palette();
    colours.setBrush(QPalette::Window, label->palette().window());
    shaped.setPalette(colours);
    shaped.setFixedSize(label->size());
    int modelBehind = 0;
    for (int left = 900; left > 0; --left) {
        SCOPED_TRACE(left);
        const QString expected = L("lock.auto_unlock_countdown", left / 60, left % 60);
        shaped.setText(expected);
        const QImage fresh = shaped.grab().toImage();
        const QRect area(label->mapTo(window, QPoint()), label->size());
        ASSERT_EQ(screen->copy(area), fresh.convertToFormat(screen->format()));
        if (label->text() == expected) {
            ASSERT_EQ(label->grab().toImage(), fresh);
        } else {
            ASSERT_EQ(label->text(), L("lock.auto_unlock_countdown", (left + 1) / 60, (left + 1) % 60));
            ++modelBehind;
        }
        clock.stall(begun + (901s - std::chrono::seconds(left)) + GetParam().late - clock.monotonicNow());
        clock.advance(0s);
        idle();
    }
    EXPECT_FALSE(controller->isLocked());
    if (GetParam().tilesRefused || !GetParam().putsLater) {
        EXPECT_EQ(blitter.puts > 0, !GetParam().tilesRefused);
        EXPECT_EQ(modelBehind, 0);
        EXPECT_GE(watchdog.heartbeats, 899);
    } else {
        // Woken every other second, and a few times more around each of the two changes
        // a minute where the text changes in more than its digits.
        EXPECT_GT(blitter.puts, 899);
        EXPECT_LE(watchdog.heartbeats, 900 / 2 + 15 * 2 * 2);
        EXPECT_GT(modelBehind, 300);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CountdownTest,
                         ::testing::Values(CountdownRow{"OnTime", 0ms}, CountdownRow{"LateBy400ms", 400ms},
                                           CountdownRow{"WithoutTiles", 0ms, true},
                                           CountdownRow{"TilesPutAtOnceOnly", 0ms, false, false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(LockControllerTest, FlagsAreHandledInOrderAndQueuedOnesAndClosuresOutliveNothing)
{
    ASSERT_TRUE(controller->lock());
    grab->report(kLeftOnly);
    grab->report(kBoth);
    clock.runPosted();
    EXPECT_TRUE(controller->isHolding());
    press(kLeftOnly);
    grab->report(kBoth); // queued, not yet handled
    controller->unlock();
    clock.runPosted();
    EXPECT_FALSE(controller->isHolding());
    EXPECT_EQ(clock.pendingTimers(), 0);
    // A discarded controller's queued reports and timers find it gone.
    ASSERT_TRUE(controller->lock());
    press(kBoth);
    grab->report(kLeftOnly);
    controller.reset();
    clock.runPosted();
    clock.advance(1000s);
    EXPECT_EQ(unlockedAt.size(), 1u);
}

// The engine hands flags on from the main queue only, and none once stopped.
TEST_F(LockControllerTest, TheEngineHandsFlagsOnFromTheMainQueueOnlyAndNoneOnceStopped)
{
    auto* input = new FakeInputGrab;
    const std::unique_ptr<TapLockEngine> tap = engine(input);
    QList<quint64> reported;
    ASSERT_TRUE(tap->start([&](quint64 flags) { reported.append(flags); }));
    input->report(kBoth);
    EXPECT_TRUE(reported.isEmpty());
    clock.runPosted();
    input->report(kLeftOnly); // queued when the engine stops: dropped
    tap->stop();
    clock.runPosted();
    EXPECT_EQ(reported, QList<quint64>{kBoth});
}

// An idle lock wakes once a second, and that one tick reasserts the grab and feeds the
// watchdog besides refreshing the countdown.
TEST_F(LockControllerTest, WatchdogIsArmedWithTheDeadlineFedEverySecondWithTheGrabAndDisarmedAtUnlock)
{
    // Armed before the calls that may wait on the bus while input is taken; the power keys
    // only once input is ours.
    bool armedForPowerKeys = false;
    bool armedForSleep = false;
    powerKeys->onAcquire = [&] { armedForPowerKeys = watchdog.isArmed && grab->grabbed; };
    sleep.onCreate = [&] { armedForSleep = watchdog.isArmed; };
    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(armedForPowerKeys);
    EXPECT_TRUE(armedForSleep);
    EXPECT_EQ(watchdog.deadline, Ms(900s));
    EXPECT_EQ(clock.pendingTimers(), 2); // that tick and the safety deadline, nothing else
    clock.advance(999ms);
    EXPECT_EQ(watchdog.heartbeats, 0);
    EXPECT_EQ(grab->reassertCalls, 0);
    clock.advance(2001ms);
    EXPECT_EQ(watchdog.heartbeats, 3);
    EXPECT_EQ(grab->reassertCalls, 3);
    controller->unlock();
    clock.advance(5s);
    EXPECT_EQ(watchdog.heartbeats, 3);
    EXPECT_EQ(grab->reassertCalls, 3);
    ASSERT_TRUE(controller->lock());
    clock.advance(900s); // the safety timer's unlock disarms too
    EXPECT_EQ(watchdog.disarmCount, 2);
}

TEST_F(LockControllerTest, ASlowBusInsideLockDoesNotPushTheEndPastTheWatchdogsDeadline)
{
    LockController shortLock(engine(), services(screens), nullptr, 1500ms);
    sleep.onCreate = [this] { clock.advance(400ms); };
    ASSERT_TRUE(shortLock.lock());
    EXPECT_EQ(watchdog.deadline, 1500ms);
    clock.advance(1099ms);
    EXPECT_TRUE(shortLock.isLocked());
    clock.advance(1ms);
    EXPECT_FALSE(shortLock.isLocked());
}

// A lock through the input guard, which runs the unlock keys and a timeout of its own.
class GuardLockTest : public LockControllerTest {
protected:
    GuardLockTest() { guarded.setOnUnlock([this] { unlockedAt.push_back(clock.monotonicNow()); }); }

    // What every overlay's bar, or hint, shows.
    template <typename Widget>
    static QList<double> shown(const QList<Widget*>& widgets, double (Widget::*value)() const)
    {
        QList<double> values;
        for (const Widget* widget : widgets)
            values << (widget->*value)();
        return values;
    }
    QList<double> bars() const { return shown(guarded.holdBars(), &HoldBarView::progress); }
    QList<double> hints() const { return shown(guarded.holdHints(), &FadingLabel::alpha); }

    FakeInputGuard guard;
    FakeSystemLog log;
    LockController guarded{std::make_unique<GuardLockEngine>(guard, defaults, log), services(screens)};
};

// guardReleases: the reason the guard ends the lock with, if it does; logged: whether the
// system log has it.
struct GuardEndRow {
    const char* name; std::chrono::seconds at; const char* guardReleases; bool ownerUnlocks; int releasesAsked; bool logged;
};

class GuardEndTest : public GuardLockTest, public ::testing::WithParamInterface<GuardEndRow> {};

TEST_P(GuardEndTest, EveryEndIsOneTeardownAndLateReportsChangeNothing)
{
    const GuardEndRow& row = GetParam();
    defaults.setValue(DefaultsKey::HoldSecondsUser, 5);
    const MonoTime begun = clock.monotonicNow();
    ASSERT_TRUE(guarded.lock());
    EXPECT_EQ(guard.holdSeconds, 5u);
    EXPECT_EQ(std::chrono::seconds(guard.timeoutSeconds), LockController::kSafetyTimeout);
    guard.refuseDevices({QStringLiteral("Remapper Keyboard")});
    clock.advance(row.at);
    if (row.guardReleases)
        guard.releaseBy(QLatin1String(row.guardReleases));
    if (row.ownerUnlocks)
        guarded.unlock();
    clock.runPosted();
    ASSERT_EQ(unlockedAt.size(), 1u);
    EXPECT_EQ(unlockedAt[0] - begun, row.at);
    expectNothingHeld(guarded);
    EXPECT_FALSE(guard.locked);
    EXPECT_EQ(guard.releaseCalls, row.releasesAsked); // none of a lock the guard ended
    ASSERT_EQ(log.lines.size(), row.logged ? 1 : 0);
    EXPECT_TRUE(!row.logged || log.lines[0].contains(QLatin1String(row.guardReleases)));
    log.lines.clear();

    guard.progress(0.5);
    guard.refuseDevices({QStringLiteral("Late Keyboard")});
    guard.releaseBy(QStringLiteral("chord"));
    clock.advance(1000s);
    EXPECT_EQ(unlockedAt.size(), 1u);
    EXPECT_FALSE(guarded.isHolding());
    ASSERT_TRUE(guarded.lock());
    EXPECT_EQ(hints(), QList<double>{0.0});
    EXPECT_TRUE(guarded.lockWindows()[0]->warningLabel()->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Rows, GuardEndTest, ::testing::Values(
    GuardEndRow{"GuardSawTheChord", 4s, "chord", false, 0, false},
    // The guard's clock counts suspended time, the controller's does not.
    GuardEndRow{"GuardTimedOutFirst", 600s, "timeout", false, 0, false},
    GuardEndRow{"SessionSwitchedAway", 30s, "session-inactive", false, 0, true},
    GuardEndRow{"GuardGone", 20s, InputGuard::kLeaseHungUp, false, 0, true},
    GuardEndRow{"SafetyTimer", 900s, nullptr, false, 1, false}, GuardEndRow{"Owner", 10s, nullptr, true, 1, false}),
    [](const auto& row) { return std::string(row.param.name); });

// The bars show the guard's progress, the hints come and go with a hold, and devices the guard
// could not take are named on every overlay, through screen changes too, as plain text.
TEST_F(GuardLockTest, TheGuardsProgressAndRefusedDevicesShowOnEveryOverlay)
{
    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)});
    ASSERT_TRUE(guarded.lock());
    for (const double held : {0.4, 0.0}) {
        guard.progress(held);
        EXPECT_EQ(bars(), QList<double>(2, held));
        EXPECT_EQ(hints(), QList<double>(2, held > 0.0 ? 1.0 : 0.0));
    }
    guard.progress(0.7);
    screens.setScreens({QRect(0, 0, 640, 480), QRect(640, 0, 800, 600), QRect(1440, 0, 800, 600)});
    EXPECT_EQ(hints(), QList<double>(3, 1.0));
    guard.progress(1.0); // only the guard's release ends the lock
    clock.runPosted();
    EXPECT_EQ(bars(), QList<double>(3, 1.0));
    EXPECT_TRUE(guarded.isLocked());

    const QString pen = QStringLiteral("Pen <b>Tablet</b>");
    guard.refuseDevices({QStringLiteral("Remapper Keyboard")});
    guard.refuseDevices({pen, QStringLiteral("Remapper Keyboard")});
    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)});
    for (const LockWindow* window : guarded.lockWindows()) {
        EXPECT_TRUE(window->warningLabel()->isVisible());
        EXPECT_EQ(window->warningLabel()->textFormat(), Qt::PlainText);
        EXPECT_EQ(window->warningLabel()->text(),
                  L("lock.devices_not_locked", QStringLiteral("Remapper Keyboard, ") + pen));
    }
}

TEST_F(LockControllerTest, EveryScreenGetsAWindowExactlyCoveringItInScreenOrder)
{
    const QList<QScreen*> qtScreens = QGuiApplication::screens();
    ASSERT_EQ(qtScreens.size(), 2) << "the test binary runs with two offscreen screens";
    QtScreenList realScreens;
    LockController overlay(engine(), services(realScreens));
    ASSERT_TRUE(overlay.lock());
    QApplication::processEvents();
    ASSERT_EQ(overlay.lockWindows().size(), 2);
    for (int i = 0; i < 2; ++i) {
        LockWindow* window = overlay.lockWindows()[i];
        EXPECT_EQ(window->geometry(), qtScreens[i]->geometry());
        EXPECT_EQ(window->screen(), qtScreens[i]);
        EXPECT_TRUE(window->isVisible());
    }
    overlay.unlock();
}

// Out of range is ignored, never clamped; so is a value of the wrong type. An invalid value is not set.
TEST(HoldDuration, UserWinsThenServerThenThreeSeconds)
{
    const struct { QVariant user; QVariant server; double expected; } rows[] = {
        {{}, {}, 3.0}, {0, 7, 7.0}, {10, 7, 10.0}, {1, {}, 1.0}, {30, 5, 30.0}, {31, {}, 3.0}, {-2, {}, 3.0},
        {45, 12, 12.0}, {{}, 30, 30.0}, {{}, 31, 3.0}, {{}, 0, 3.0}, {QStringLiteral("5"), {}, 3.0}, {true, {}, 3.0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "user " << row.user.toString().toStdString() << ", server "
                                        << row.server.toString().toStdString());
        MemoryUserDefaults defaults;
        if (row.user.isValid())
            defaults.setValue(DefaultsKey::HoldSecondsUser, row.user);
        if (row.server.isValid())
            defaults.setValue(DefaultsKey::HoldSeconds, row.server);
        EXPECT_DOUBLE_EQ(holdDuration(defaults), row.expected);
    }
}

TEST(LockWindow, InstructionNamesTheHoldTimeInTheRightForm)
{
    const auto shows = [](double seconds, const QString& text) {
        const LockWindow window(QRect(0, 0, 1024, 768), seconds);
        const QList<QLabel*> labels = window.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) { return label->text() == text; });
    };
    EXPECT_TRUE(shows(1.0, L("lock.instruction_one", 1)));
    EXPECT_TRUE(shows(3.0, L("lock.instruction_other", 3)));
    EXPECT_FALSE(shows(3.0, L("lock.instruction_one", 3)));
}

// The kiosk engine only sees what is delivered to this application's own windows.
TEST(KioskLockEngine, SwallowsInputToOurWindowsWhileRunningAndReportsEachSidesModifiers)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* button = new QPushButton(QStringLiteral("Press"), &window);
    auto* shortcut = new QAction(&window);
    shortcut->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    window.addAction(shortcut);
    window.show();
    window.activateWindow();
    edit->setFocus();
    QApplication::processEvents();
    QSignalSpy clicked(button, &QPushButton::clicked);
    QSignalSpy triggered(shortcut, &QAction::triggered);
    const auto send = [&](QEvent::Type type, Qt::Key key, quint32 keysym) {
        QKeyEvent event(type, key, Qt::NoModifier, 0, keysym, 0);
        QApplication::sendEvent(edit, &event);
    };
    KioskLockEngine engine;
    QList<quint64> reported;
    ASSERT_TRUE(engine.start([&](quint64 f) { reported.append(f); }));
    send(QEvent::KeyPress, Qt::Key_Control, 0xffe3); // Control_L
    send(QEvent::KeyPress, Qt::Key_Control, 0xffe4); // Control_R
    send(QEvent::KeyPress, Qt::Key_A, 0x61);         // not a modifier
    send(QEvent::KeyRelease, Qt::Key_Control, 0xffe3);
    EXPECT_EQ(reported, (QList<quint64>{0x100008, 0x100018, 0x100010}));
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QString());
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(triggered.count(), 0);

    engine.stop();
    const qsizetype seen = reported.size();
    send(QEvent::KeyRelease, Qt::Key_Control, 0xffe4);
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(reported.size(), seen);
    EXPECT_EQ(edit->text(), QStringLiteral("abc"));
    EXPECT_EQ(clicked.count(), 1);
}

} // namespace
