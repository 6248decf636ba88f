#include "ModifierFlags.h"

#include <gtest/gtest.h>

using namespace ow;

namespace {

constexpr quint32 ShiftL = 0xffe1, ShiftR = 0xffe2, ControlL = 0xffe3, ControlR = 0xffe4,
                  AltL = 0xffe9, SuperL = 0xffeb, SuperR = 0xffec, AltGr = 0xfe03, LetterA = 0x61;

TEST(ModifierTracker, BothCtrlOrBothSuperKeysSetTheTwoCommandBits)
{
    ModifierTracker tracker;
    EXPECT_TRUE(tracker.update(ControlL, true));
    EXPECT_EQ(tracker.flags(), 0x100008u);
    EXPECT_TRUE(tracker.update(ControlR, true));
    EXPECT_EQ(tracker.flags(), 0x100018u);
    EXPECT_TRUE(tracker.update(ControlL, false));
    EXPECT_EQ(tracker.flags(), 0x100010u);
    EXPECT_TRUE(tracker.update(ControlR, false));
    EXPECT_EQ(tracker.flags(), 0u);

    EXPECT_TRUE(tracker.update(SuperL, true));
    EXPECT_TRUE(tracker.update(SuperR, true));
    EXPECT_EQ(tracker.flags(), 0x100018u);
}

TEST(ModifierTracker, ASideStaysDownWhileEitherOfItsKeysIsHeld)
{
    ModifierTracker tracker;
    tracker.update(ControlL, true);
    EXPECT_FALSE(tracker.update(SuperL, true)); // same bits: no change to report
    EXPECT_FALSE(tracker.update(SuperL, false));
    EXPECT_EQ(tracker.flags() & 0x18, 0x08u);
    EXPECT_TRUE(tracker.update(ControlL, false));
    EXPECT_EQ(tracker.flags(), 0u);
}

TEST(ModifierTracker, OtherModifiersKeepTheirOwnBitsAndOtherKeysChangeNothing)
{
    ModifierTracker tracker;
    EXPECT_FALSE(tracker.update(LetterA, true));
    EXPECT_FALSE(ModifierTracker::isModifier(LetterA));
    tracker.update(ShiftR, true);
    EXPECT_EQ(tracker.flags(), 0x20004u);
    tracker.update(ShiftL, true);
    EXPECT_EQ(tracker.flags(), 0x20006u);
    tracker.update(AltL, true);
    tracker.update(AltGr, true);
    EXPECT_EQ(tracker.flags(), 0x20006u | 0x80060u);
    EXPECT_TRUE(tracker.setCapsLock(true));
    EXPECT_EQ(tracker.flags() & 0x10000, 0x10000u);
    EXPECT_FALSE(tracker.update(ShiftL, true)); // a repeated press is no change
    tracker.reset();
    EXPECT_EQ(tracker.flags(), 0u);
}

} // namespace
