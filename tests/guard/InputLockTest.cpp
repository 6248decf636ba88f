#include "GuardFakes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

using namespace owguard;
using namespace owguard::test;
using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;

TEST(InputLock, GrabsEveryInputDeviceAlsoLaterOnesReportsRefusedOnesAndLeavesSwitches)
{
    Bench bench;
    const auto& keyboard = bench.source.add("keyboard", Keys);
    bench.source.add("mouse", Keys | Rel);
    auto& remapped = bench.source.add("remapped keyboard", Keys);
    remapped.grabResult = -EBUSY;
    const auto& lid = bench.source.add("lid", Sw);
    bench.start();
    ASSERT_TRUE(bench.lock);
    const auto& tablet = bench.source.plugIn("tablet", Keys | Abs);
    bench.source.plugIn("dock switch", Sw);
    bench.source.touch(remapped);
    bench.source.touch(keyboard);
    bench.pump();
    EXPECT_EQ(bench.log, (Lines{"grabbed " + keyboard.path, "grabbed /dev/input/event1",
                                "refused " + remapped.path + " remapped keyboard", "grabbed " + tablet.path}));
    EXPECT_TRUE(keyboard.grabbed && tablet.grabbed && bench.lock->isHeld());
    EXPECT_FALSE(remapped.open || lid.open || lid.grabbed);
}

TEST(InputLock, EndsOnceForEachReasonWithEveryDeviceUngrabbedFirst)
{
    const struct {
        const char* reason;
        void (*act)(Bench&);
    } rows[] = {
        {"client-gone", [](Bench& b) { close(std::exchange(b.lease, -1)); }},
        {"device-error", [](Bench& b) {
             auto& keyboard = b.source.inputs.front();
             keyboard.readError = EIO;
             keyboard.send(EV_KEY, KEY_A, 1);
         }},
        {"timeout", [](Bench& b) {
             b.advance(900s - 1us);
             EXPECT_EQ(b.releases(), 0);
             b.advance(1us);
         }},
        {"chord", [](Bench& b) { // both Ctrl, each on its own keyboard, after a first try let go
             b.source.inputs.front().send(EV_KEY, KEY_LEFTCTRL, 1);
             b.source.inputs.back().send(EV_KEY, KEY_RIGHTCTRL, 1);
             b.advance(2s);
             b.source.inputs.back().send(EV_KEY, KEY_RIGHTCTRL, 0);
             b.advance(1s);
             b.source.inputs.back().send(EV_KEY, KEY_RIGHTCTRL, 1);
             b.advance(3s - 1us);
             EXPECT_EQ(b.releases(), 0);
             b.advance(1us);
         }},
        {"requested", [](Bench& b) { b.lock->release(ReleaseReason::Requested); }},
        {"requested", [](Bench& b) { b.lock.reset(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        Bench bench;
        bench.source.add("keyboard", Keys);
        bench.source.add("second keyboard", Keys);
        bench.start();
        row.act(bench);
        bench.pump();
        EXPECT_EQ(bench.log.back(), std::string("released ") + row.reason);
        EXPECT_EQ(bench.grabbedAtRelease, 0);
        if (bench.lock) {
            EXPECT_FALSE(bench.lock->isHeld());
            bench.lock->release(ReleaseReason::Chord);
            bench.lock.reset();
        }
        bench.advance(1000s);
        EXPECT_EQ(bench.releases(), 1);
        for (const auto& input : bench.source.inputs)
            EXPECT_FALSE(input.open) << input.name;
    }
}

TEST(InputLock, AKeyDownAtTheStartIsLetThroughUntilReleasedButNotForEver)
{
    constexpr int Never = 1'000'000;
    const struct {
        const char* name;
        int releasedAtMs, grabbedFromMs, grabbedByMs;
    } rows[] = {
        {"no key down", 0, 0, 0},
        {"released after a while", 300, 300, 350},
        {"held for ever", Never, 800, 1500},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        auto& keyboard = bench.source.add("keyboard", Keys);
        keyboard.keyDown = row.releasedAtMs > 0;
        bench.start();
        int grabbedAt = -1;
        for (int ms = 0; ms <= 2000 && grabbedAt < 0; ms += 5) {
            if (ms >= row.releasedAtMs)
                keyboard.keyDown = false;
            if (keyboard.grabbed)
                grabbedAt = ms;
            else
                bench.advance(5ms);
        }
        EXPECT_GE(grabbedAt, row.grabbedFromMs);
        EXPECT_LE(grabbedAt, row.grabbedByMs);
        EXPECT_EQ(bench.log, Lines{"grabbed " + keyboard.path});
    }
}

TEST(InputLock, AnUnpluggedDeviceIsDroppedWithItsKeysAndTheLockGoesOn)
{
    Bench bench;
    auto& keyboard = bench.source.add("keyboard", Keys);
    const auto& other = bench.source.add("other keyboard", Keys);
    bench.start();
    keyboard.send(EV_KEY, KEY_LEFTCTRL, 1);
    other.send(EV_KEY, KEY_RIGHTCTRL, 1);
    bench.advance(1s);
    close(std::exchange(keyboard.peer, -1));
    bench.advance(10s);
    EXPECT_FALSE(keyboard.open);
    EXPECT_TRUE(other.grabbed && bench.lock->isHeld());
    EXPECT_EQ(bench.releases(), 0);
    ASSERT_FALSE(bench.progressLog.empty());
    EXPECT_EQ(bench.progressLog.back().second, 0.0) << "the bar empties when the chord breaks";
    EXPECT_GT(bench.progressLog.end()[-2].second, 0.3);
}

TEST(InputLock, DoesNotStartWhenTheDeviceFolderCannotBeRead)
{
    Bench bench;
    bench.source.readable = false;
    bench.source.add("keyboard", Keys);
    bench.start();
    EXPECT_FALSE(bench.lock);
    char byte;
    EXPECT_EQ(read(bench.lease, &byte, 1), 0) << "the lease is closed";
    EXPECT_FALSE(bench.source.inputs.front().open);
    EXPECT_TRUE(bench.log.empty());
}

} // namespace
