#include "GuardFakes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>
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
    const auto& tablet = bench.source.add("tablet", Keys | Abs, true);
    bench.source.add("dock switch", Sw, true);
    bench.source.touch(remapped);
    bench.source.touch(keyboard);
    bench.pump();
    EXPECT_EQ(bench.log, (Lines{"grabbed " + keyboard.path, "grabbed /dev/input/event1",
                                "refused " + remapped.path + " remapped keyboard", "grabbed " + tablet.path}));
    EXPECT_TRUE(keyboard.grabbed && tablet.grabbed && bench.lock->isHeld());
    EXPECT_FALSE(remapped.open || lid.open || lid.grabbed);
}

TEST(InputLock, EndsOnceForEachReasonWithEveryDeviceUngrabbedFirstAlsoWhileOneFloods)
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
        auto& mouse = bench.source.add("mouse", Keys | Rel);
        bench.source.add("second keyboard", Keys);
        mouse.flood = true;
        bench.start();
        mouse.send(EV_REL, REL_X, 1);
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

// Its node appears a second before udev has finished its record.
template <Placement Finished>
void placedLater(Bench& bench, FakeInput& input)
{
    input.placement = Placement::Unsettled;
    bench.source.touch(input);
    bench.advance(1s);
    input.placement = Finished;
    bench.source.touch(input);
}

TEST(InputLock, APluggedDeviceOfTheSeatIsTakenOrNamedOneOfAnotherSeatLeftFree)
{
    const struct {
        const char* name;
        void (*plug)(Bench&, FakeInput&); // the keyboard, there but not yet told of
        const char* heard;                // the lock's last word
    } rows[] = {
        {"placed on the seat by udev's finished record", placedLater<Placement::OnSeat>, "grabbed /dev/input/event1"},
        {"placed on another seat by udev's finished record", placedLater<Placement::OtherSeat>, "grabbed /dev/input/event0"},
        {"never placed by udev", [](Bench& b, FakeInput& k) { k.placement = Placement::Unsettled; b.source.touch(k); },
         "refused /dev/input/event1 keyboard"},
        {"its news lost in an overflow", [](Bench& b, FakeInput&) { b.source.overflow(); }, "grabbed /dev/input/event1"},
        {"re-plugged at its node before the old hang-up is read", [](Bench& b, FakeInput& k) {
             b.source.touch(k);
             b.pump();
             b.source.touch(k);
             close(std::exchange(k.peer, -1));
         }, "grabbed /dev/input/event1"},
        {"no timer to wait for its keys", [](Bench& b, FakeInput& k) { k.keyDown = b.clock.full = true; b.source.touch(k); },
         "refused /dev/input/event1 keyboard"},
        {"no timer to wait for udev", [](Bench& b, FakeInput& k) { k.placement = Placement::Unsettled; b.clock.full = true; b.source.touch(k); },
         "refused /dev/input/event1 keyboard"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.source.add("first keyboard", Keys);
        bench.start();
        auto& keyboard = bench.source.add("keyboard", Keys);
        row.plug(bench, keyboard);
        bench.advance(10s);
        EXPECT_EQ(bench.log.back(), row.heard);
        EXPECT_EQ(keyboard.grabbed && keyboard.open, bench.log.back() == "grabbed " + keyboard.path);
    }
}

TEST(InputLock, DoesNotStartWhenTheDeviceFolderCannotBeRead)
{
    Bench bench;
    bench.source.readable = false;
    bench.source.add("keyboard", Keys);
    bench.start();
    EXPECT_FALSE(bench.lock);
    char byte;
    EXPECT_EQ(recv(bench.lease, &byte, 1, MSG_DONTWAIT), 0) << "the lease is closed";
    EXPECT_FALSE(bench.source.inputs.front().open);
    EXPECT_TRUE(bench.log.empty());
}

} // namespace
