#include "FadingLabel.h"
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeInputGrab.h"
#include "FakeLockWatchdog.h"
#include "FakePowerKeyInhibitor.h"
#include "FakeScreenList.h"
#include "FakeWindowStacking.h"
#include "HoldBarView.h"
#include "HoldDuration.h"
#include "LockController.h"
#include "LockWindow.h"
#include "Localizer.h"
#include "MemoryUserDefaults.h"
#include "ModifierFlags.h"
#include "TapLockEngine.h"

#include <QLabel>
#include <QPointer>

#include <gtest/gtest.h>

using namespace ow;
using namespace std::chrono_literals;

namespace {

constexpr quint64 kBothCommands =
    ModifierFlags::LeftCommand | ModifierFlags::RightCommand | ModifierFlags::Command;
constexpr quint64 kLeftCommandOnly = ModifierFlags::LeftCommand | ModifierFlags::Command;
constexpr auto kTick = LockController::kHoldTickPeriod;

class LockControllerTest : public ::testing::Test {
protected:
    LockControllerTest()
    {
        auto fakeGrab = std::make_unique<FakeInputGrab>();
        grab = fakeGrab.get();
        auto inhibitor = std::make_unique<FakePowerKeyInhibitor>();
        powerKeys = inhibitor.get();
        auto tapEngine = std::make_unique<TapLockEngine>(std::move(fakeGrab), std::move(inhibitor), clock);
        engine = tapEngine.get();
        controller = std::make_unique<LockController>(
            std::move(tapEngine), LockController::Services{clock, defaults, cursor, sleep, screens, stacking, watchdog});
        controller->setOnUnlock([this] { ++unlockCalls; });
    }

    // Reports a modifier change the way the real grab does, and lets the main queue run.
    void press(quint64 flags)
    {
        grab->report(flags);
        clock.runPosted();
    }

    // Advances tick by tick until the lock ends; returns the time it took.
    std::chrono::nanoseconds timeToUnlock(std::chrono::nanoseconds limit)
    {
        const MonoTime start = clock.monotonicNow();
        while (controller->isLocked() && clock.monotonicNow() - start < limit)
            clock.advance(kTick);
        return clock.monotonicNow() - start;
    }

    static QString countdown(int minutes, int seconds)
    {
        return L("lock.auto_unlock_countdown", minutes, seconds);
    }

    QString countdownText() const
    {
        const QList<QLabel*>& labels = controller->countdownLabels();
        return labels.isEmpty() ? QStringLiteral("<no overlay>") : labels[0]->text();
    }

    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    FakeDisplaySleepAssertion sleep;
    FakeScreenList screens{{QRect(0, 0, 800, 600)}};
    FakeWindowStacking stacking;
    FakeLockWatchdog watchdog;
    FakeInputGrab* grab = nullptr;
    FakePowerKeyInhibitor* powerKeys = nullptr;
    TapLockEngine* engine = nullptr;
    std::unique_ptr<LockController> controller;
    int unlockCalls = 0;
};

TEST_F(LockControllerTest, RefusedEngineLeavesEverythingUnlocked)
{
    grab->refuse = true;
    EXPECT_FALSE(controller->lock());
    EXPECT_FALSE(controller->isLocked());
    EXPECT_TRUE(controller->lockWindows().isEmpty());
    EXPECT_TRUE(cursor.visible());
    EXPECT_EQ(controller->sleepAssertion(), 0u);
    EXPECT_TRUE(sleep.held.isEmpty());
    EXPECT_EQ(clock.pendingTimers(), 0);
    EXPECT_TRUE(stacking.guarded.isEmpty());
    EXPECT_FALSE(watchdog.isArmed);
    EXPECT_EQ(watchdog.disarmCount, watchdog.armCount);

    // The next attempt starts from scratch.
    grab->refuse = false;
    EXPECT_TRUE(controller->lock());
    EXPECT_EQ(grab->grabCalls, 2);
}

TEST_F(LockControllerTest, LockCoversEveryScreenOnceAndUnlockUndoesAll)
{
    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)});
    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(controller->isLocked());
    EXPECT_TRUE(engine->isRunning());
    ASSERT_EQ(controller->lockWindows().size(), 2);
    EXPECT_EQ(controller->holdBars().size(), 2);
    EXPECT_EQ(controller->holdHints().size(), 2);
    EXPECT_EQ(controller->countdownLabels().size(), 2);
    EXPECT_EQ(controller->lockWindows()[1]->geometry(), QRect(800, 0, 1024, 768));
    EXPECT_TRUE(controller->lockWindows()[0]->isVisible());
    EXPECT_EQ(stacking.guarded, (QList<WId>{controller->lockWindows()[0]->winId(),
                                            controller->lockWindows()[1]->winId()}));
    EXPECT_FALSE(cursor.visible());
    EXPECT_NE(controller->sleepAssertion(), 0u);
    EXPECT_EQ(sleep.held.size(), 1);
    EXPECT_TRUE(powerKeys->held);
    for (FadingLabel* hint : controller->holdHints())
        EXPECT_EQ(hint->alpha(), 0.0);

    // Locking again changes nothing.
    const QList<LockWindow*> first = controller->lockWindows();
    EXPECT_TRUE(controller->lock());
    EXPECT_EQ(controller->lockWindows(), first);
    EXPECT_EQ(cursor.hideCount, 1);
    EXPECT_EQ(grab->grabCalls, 1);

    QList<QPointer<LockWindow>> windows;
    for (LockWindow* window : first)
        windows.append(window);
    // onUnlock runs last, when everything else is already undone.
    controller->setOnUnlock([&] {
        ++unlockCalls;
        EXPECT_FALSE(controller->isLocked());
        EXPECT_FALSE(grab->grabbed);
        EXPECT_FALSE(powerKeys->held);
        EXPECT_EQ(engine->presentationOptions(), 0u);
        EXPECT_TRUE(cursor.visible());
        EXPECT_TRUE(sleep.held.isEmpty());
        EXPECT_EQ(controller->sleepAssertion(), 0u);
        EXPECT_TRUE(controller->lockWindows().isEmpty());
        EXPECT_TRUE(controller->holdBars().isEmpty());
        EXPECT_TRUE(controller->holdHints().isEmpty());
        EXPECT_TRUE(controller->countdownLabels().isEmpty());
        EXPECT_TRUE(stacking.guarded.isEmpty());
        for (const auto& window : windows)
            EXPECT_TRUE(!window || !window->isVisible());
        EXPECT_EQ(clock.pendingTimers(), 0);
    });
    controller->unlock();
    EXPECT_EQ(unlockCalls, 1);

    controller->unlock();
    EXPECT_EQ(unlockCalls, 1);
}

TEST_F(LockControllerTest, HoldUnlocksAtTheFirstTickAtOrAfterTheHoldDuration)
{
    ASSERT_TRUE(controller->lock());
    press(kBothCommands);
    EXPECT_TRUE(controller->isHolding());
    for (FadingLabel* hint : controller->holdHints())
        EXPECT_EQ(hint->alpha(), 1.0);

    clock.advance(2900ms);
    EXPECT_TRUE(controller->isLocked());
    EXPECT_NEAR(controller->holdBars()[0]->progress(), 2.9 / 3.0, 0.02);

    const auto rest = timeToUnlock(10s);
    const auto total = 2900ms + rest;
    EXPECT_FALSE(controller->isLocked());
    EXPECT_GE(total, 3000ms);
    EXPECT_LT(total, 3000ms + kTick);
    EXPECT_EQ(unlockCalls, 1);
}

TEST_F(LockControllerTest, ReleasingEitherKeyEmptiesTheBarsAndTheNextHoldStartsFromZero)
{
    ASSERT_TRUE(controller->lock());
    press(kBothCommands);
    clock.advance(2900ms);
    press(kLeftCommandOnly);
    EXPECT_FALSE(controller->isHolding());
    EXPECT_EQ(controller->holdBars()[0]->progress(), 0.0);
    EXPECT_EQ(controller->holdHints()[0]->alpha(), 0.0);

    clock.advance(5s);
    EXPECT_TRUE(controller->isLocked());

    press(kBothCommands);
    clock.advance(2900ms);
    EXPECT_TRUE(controller->isLocked());
    EXPECT_LT(controller->holdBars()[0]->progress(), 1.0);
    timeToUnlock(1s);
    EXPECT_FALSE(controller->isLocked());
}

TEST_F(LockControllerTest, OtherModifiersNeitherStartNorDisturbAHold)
{
    ASSERT_TRUE(controller->lock());
    // One Command key alone, with anything else, never starts a hold.
    press(kLeftCommandOnly | ModifierFlags::LeftShift | ModifierFlags::Shift);
    press(ModifierFlags::RightCommand | ModifierFlags::Command | ModifierFlags::CapsLock);
    clock.advance(10s);
    EXPECT_FALSE(controller->isHolding());
    EXPECT_TRUE(controller->isLocked());

    press(kBothCommands);
    clock.advance(1500ms);
    // Shift and Option join in; the hold goes on from where it was.
    press(kBothCommands | ModifierFlags::LeftShift | ModifierFlags::Shift);
    press(kBothCommands | ModifierFlags::LeftShift | ModifierFlags::Shift | ModifierFlags::LeftOption
          | ModifierFlags::Option);
    const auto rest = timeToUnlock(5s);
    EXPECT_GE(1500ms + rest, 3000ms);
    EXPECT_LT(1500ms + rest, 3000ms + kTick);
}

TEST_F(LockControllerTest, CountdownStartsAtFifteenMinutesAndNeverGoesNegative)
{
    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(countdownText() == countdown(15, 0)) << countdownText().toStdString();
    clock.advance(1s);
    EXPECT_TRUE(countdownText() == countdown(14, 59)) << countdownText().toStdString();
    clock.advance(840s);
    EXPECT_TRUE(countdownText() == countdown(0, 59)) << countdownText().toStdString();
    clock.advance(58s);
    EXPECT_TRUE(countdownText() == countdown(0, 1)) << countdownText().toStdString();

    // The main loop is busy past the deadline, and a screen change is handled before the
    // late safety timer: the countdown shows zero, not a negative time.
    clock.stall(2s);
    screens.setScreens({QRect(0, 0, 1024, 768)});
    ASSERT_TRUE(controller->isLocked());
    EXPECT_TRUE(countdownText() == countdown(0, 0)) << countdownText().toStdString();
    clock.advance(0s);
    EXPECT_FALSE(controller->isLocked());
}

TEST_F(LockControllerTest, SafetyTimerEndsTheLockAtNineHundredSecondsWhateverTheUserDoes)
{
    ASSERT_TRUE(controller->lock());
    press(kLeftCommandOnly);
    clock.advance(899s);
    clock.advance(999ms);
    EXPECT_TRUE(controller->isLocked());
    clock.advance(1ms);
    EXPECT_FALSE(controller->isLocked());
    EXPECT_EQ(unlockCalls, 1);
    EXPECT_EQ(clock.pendingTimers(), 0);

    // A new lock gets a fresh 900 s.
    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(countdownText() == countdown(15, 0));
    clock.advance(899s);
    EXPECT_TRUE(controller->isLocked());
    clock.advance(1s);
    EXPECT_FALSE(controller->isLocked());
    EXPECT_EQ(unlockCalls, 2);
}

TEST_F(LockControllerTest, ScreenChangeDuringAHoldRebuildsAndKeepsHoldAndDeadline)
{
    ASSERT_TRUE(controller->lock());
    press(kBothCommands);
    clock.advance(1s);
    ASSERT_EQ(controller->lockWindows().size(), 1);
    QPointer<LockWindow> old = controller->lockWindows()[0];

    screens.setScreens({QRect(0, 0, 800, 600), QRect(800, 0, 640, 480)});
    ASSERT_EQ(controller->lockWindows().size(), 2);
    EXPECT_FALSE(controller->lockWindows().contains(old.data()));
    EXPECT_TRUE(!old || !old->isVisible());
    EXPECT_EQ(stacking.guarded.size(), 2);
    for (FadingLabel* hint : controller->holdHints())
        EXPECT_EQ(hint->alpha(), 1.0); // at once, not faded in
    for (HoldBarView* bar : controller->holdBars())
        EXPECT_EQ(bar->progress(), 0.0); // until the next tick
    for (QLabel* label : controller->countdownLabels())
        EXPECT_TRUE(label->text() == countdown(14, 59)) << label->text().toStdString();

    clock.advance(kTick);
    for (HoldBarView* bar : controller->holdBars())
        EXPECT_NEAR(bar->progress(), 1.0 / 3.0 + 1.0 / 90.0, 0.01);

    // The hold began before the rebuild and ends on its original schedule.
    const auto rest = timeToUnlock(5s);
    EXPECT_LT(1s + kTick + rest, 3000ms + kTick);
    EXPECT_EQ(unlockCalls, 1);

    // Unlocked: screen changes are no longer watched.
    screens.setScreens({QRect(0, 0, 800, 600)});
    EXPECT_TRUE(controller->lockWindows().isEmpty());
}

TEST_F(LockControllerTest, ChangingTheHoldDurationDuringAHoldTakesEffectAtTheNextTick)
{
    defaults.setValue(DefaultsKey::HoldSecondsUser, 10);
    ASSERT_TRUE(controller->lock());
    press(kBothCommands);
    clock.advance(2s);
    EXPECT_NEAR(controller->holdBars()[0]->progress(), 0.2, 0.01);
    defaults.setValue(DefaultsKey::HoldSecondsUser, 1);
    clock.advance(kTick);
    EXPECT_FALSE(controller->isLocked());
}

TEST_F(LockControllerTest, FlagsStillQueuedWhenTheLockEndsAreDropped)
{
    ASSERT_TRUE(controller->lock());
    grab->report(kBothCommands); // queued, not yet handled
    controller->unlock();
    clock.runPosted();
    EXPECT_FALSE(controller->isHolding());
    EXPECT_EQ(clock.pendingTimers(), 0);
    EXPECT_EQ(unlockCalls, 1);
}

TEST_F(LockControllerTest, LockGoesOnWithoutASleepAssertion)
{
    sleep.available = false;
    ASSERT_TRUE(controller->lock());
    EXPECT_EQ(controller->sleepAssertion(), 0u);
    controller->unlock();
    EXPECT_EQ(unlockCalls, 1);
    EXPECT_TRUE(cursor.visible());
}

TEST_F(LockControllerTest, WatchdogIsArmedWithTheDeadlineFedEveryHalfSecondAndDisarmedAtUnlock)
{
    // Armed before the calls that may wait on the bus while input is taken.
    bool armedForPowerKeys = false;
    bool armedForSleep = false;
    powerKeys->onAcquire = [&] { armedForPowerKeys = watchdog.isArmed; };
    sleep.onCreate = [&] { armedForSleep = watchdog.isArmed; };
    ASSERT_TRUE(controller->lock());
    EXPECT_TRUE(armedForPowerKeys);
    EXPECT_TRUE(armedForSleep);
    EXPECT_TRUE(watchdog.isArmed);
    EXPECT_EQ(watchdog.deadline, std::chrono::milliseconds(900s));
    clock.advance(499ms);
    EXPECT_EQ(watchdog.heartbeats, 0);
    clock.advance(1ms);
    EXPECT_EQ(watchdog.heartbeats, 1);
    clock.advance(2s);
    EXPECT_EQ(watchdog.heartbeats, 5);
    controller->unlock();
    EXPECT_FALSE(watchdog.isArmed);
    EXPECT_EQ(watchdog.disarmCount, 1);
    clock.advance(5s);
    EXPECT_EQ(watchdog.heartbeats, 5);
    EXPECT_EQ(clock.pendingTimers(), 0);

    // The safety timer's unlock disarms too, and a second lock arms again.
    ASSERT_TRUE(controller->lock());
    clock.advance(900s);
    EXPECT_EQ(watchdog.armCount, 2);
    EXPECT_EQ(watchdog.disarmCount, 2);
    EXPECT_FALSE(watchdog.isArmed);
}

TEST_F(LockControllerTest, AShorterSafetyTimeoutIsTheDeadlineTheWatchdogGets)
{
    LockController shortLock(std::make_unique<TapLockEngine>(std::make_unique<FakeInputGrab>(),
                                                             std::make_unique<FakePowerKeyInhibitor>(), clock),
                             {clock, defaults, cursor, sleep, screens, stacking, watchdog}, nullptr, 1500ms);
    // A bus that takes its time inside lock() does not push the end of the lock past
    // the deadline the watchdog was armed with.
    sleep.onCreate = [this] { clock.advance(400ms); };
    ASSERT_TRUE(shortLock.lock());
    EXPECT_EQ(watchdog.deadline, 1500ms);
    clock.advance(1099ms);
    EXPECT_TRUE(shortLock.isLocked());
    clock.advance(1ms);
    EXPECT_FALSE(shortLock.isLocked());
    EXPECT_FALSE(watchdog.isArmed);
}

TEST_F(LockControllerTest, ClosuresLeftBehindByADiscardedControllerDoNothing)
{
    ASSERT_TRUE(controller->lock());
    press(kBothCommands);
    grab->report(kLeftCommandOnly); // still queued when the controller goes
    controller.reset();
    clock.runPosted();
    clock.advance(1000s);
    EXPECT_EQ(unlockCalls, 0);
}

} // namespace
