#include "ModifierFlags.h"

#include <gtest/gtest.h>

namespace {

// Only the two Command sides decide an unlock: each Ctrl or Super key holds its side, a side
// stays down while either of its keys is held, only a change of the flags is reported, and
// no other key (Shift, Alt, Meta, AltGr, a letter, Caps Lock) ever stands for a side.
TEST(ModifierTracker, EachCtrlOrSuperKeyHoldsItsSideWhileEitherOfItsKeysIsDown)
{
    constexpr quint32 ControlL = 0xffe3, ControlR = 0xffe4, SuperL = 0xffeb, SuperR = 0xffec;
    constexpr quint64 Left = 0x100008, Right = 0x100010, Both = Left | Right;
    const struct { quint32 keysym; bool down; quint64 flags; } steps[] = {
        {ControlL, true, Left}, {ControlL, true, Left}, {SuperR, true, Both}, {ControlR, true, Both},
        {SuperR, false, Both}, {SuperL, true, Both}, {ControlL, false, Both}, {SuperL, false, Right},
        {ControlR, false, 0},
    };
    ow::ModifierTracker tracker;
    for (quint64 before = 0; const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << std::hex << step.keysym << (step.down ? " down" : " up"));
        EXPECT_EQ(tracker.update(step.keysym, step.down), step.flags != before);
        EXPECT_EQ(tracker.flags(), before = step.flags);
    }
    EXPECT_TRUE(tracker.setCapsLock(true));
    EXPECT_EQ(tracker.flags(), 0x10000u);
    for (const quint32 other : {0xffe1u, 0xffe2u, 0xffe9u, 0xffeau, 0xffe7u, 0xffe8u, 0xfe03u, 0x61u, 0xffe5u})
        tracker.update(other, true);
    EXPECT_EQ(tracker.flags() & Both, 0u);
    EXPECT_TRUE(ow::ModifierTracker::isModifier(SuperR));
    tracker.reset();
    EXPECT_EQ(tracker.flags(), 0u);
}

} // namespace
