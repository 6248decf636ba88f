#include "ModifierFlags.h"

#include <gtest/gtest.h>

using namespace ow;

namespace {

constexpr quint32 ControlL = 0xffe3, ControlR = 0xffe4, SuperL = 0xffeb, ShiftL = 0xffe1;

TEST(ModifierTracker, EachModifierKeyAloneSetsItsSideAndItsModifierBit)
{
    const struct {
        quint32 keysym;
        quint64 flags;
    } rows[] = {
        {ShiftL, 0x20002},    {0xffe2, 0x20004},   {ControlL, 0x100008}, {ControlR, 0x100010},
        {SuperL, 0x100008},   {0xffec, 0x100010},  {0xffe9, 0x80020},    {0xffea, 0x80040},
        {0xffe7, 0x80020},    {0xffe8, 0x80040},   {0xfe03, 0x80040}, // AltGr
        {0x61, 0},            {0xffe5, 0}, // a letter, and the Caps Lock key, whose lock state counts instead
    };
    for (const auto& row : rows) {
        ModifierTracker tracker;
        EXPECT_EQ(tracker.update(row.keysym, true), row.flags != 0) << std::hex << row.keysym;
        EXPECT_EQ(tracker.flags(), row.flags) << std::hex << row.keysym;
        EXPECT_EQ(ModifierTracker::isModifier(row.keysym), row.flags != 0) << std::hex << row.keysym;
        EXPECT_EQ(tracker.update(row.keysym, false), row.flags != 0) << std::hex << row.keysym;
        EXPECT_EQ(tracker.flags(), 0u) << std::hex << row.keysym;
    }
}

TEST(ModifierTracker, ASideStaysDownWhileEitherOfItsKeysIsHeld)
{
    ModifierTracker tracker;
    EXPECT_TRUE(tracker.update(ControlL, true));
    EXPECT_TRUE(tracker.update(ControlR, true));
    EXPECT_EQ(tracker.flags(), 0x100018u);
    EXPECT_FALSE(tracker.update(SuperL, true)); // same bits: no change to report
    EXPECT_FALSE(tracker.update(ControlL, false));
    EXPECT_TRUE(tracker.update(SuperL, false));
    EXPECT_EQ(tracker.flags(), 0x100010u);
    tracker.update(ShiftL, true);
    EXPECT_FALSE(tracker.update(ShiftL, true)); // a repeated press is no change
    EXPECT_TRUE(tracker.setCapsLock(true));
    EXPECT_EQ(tracker.flags(), 0x100010u | 0x20002u | 0x10000u);
    tracker.reset();
    EXPECT_EQ(tracker.flags(), 0u);
}

} // namespace
