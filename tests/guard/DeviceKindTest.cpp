#include "DeviceKind.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

using namespace owguard;

TEST(DeviceKind, TakesWhatTypesOrPointsAndLeavesSwitchesAndSilentDevices)
{
    const std::uint32_t syn = 1u << EV_SYN, key = 1u << EV_KEY, rel = 1u << EV_REL, abs = 1u << EV_ABS,
                        msc = 1u << EV_MSC, sw = 1u << EV_SW;
    const struct {
        const char* device;
        std::uint32_t types;
        DeviceKind kind;
    } rows[] = {
        {"keyboard", syn | key | msc | 1u << EV_LED | 1u << EV_REP, DeviceKind::Input},
        {"mouse", syn | key | rel | msc, DeviceKind::Input},
        {"touchpad, touchscreen, tablet", syn | key | abs | msc, DeviceKind::Input},
        {"pointing stick", syn | rel, DeviceKind::Input},
        {"power button", syn | key, DeviceKind::Input},
        {"hotkeys beside a switch", syn | key | sw, DeviceKind::Input},
        {"lid switch only", syn | sw, DeviceKind::Ignored},
        {"pc speaker", syn | 1u << EV_SND, DeviceKind::Ignored},
        {"nothing", 0, DeviceKind::Ignored},
    };
    for (const auto& row : rows)
        EXPECT_EQ(deviceKind(row.types), row.kind) << row.device;
}
