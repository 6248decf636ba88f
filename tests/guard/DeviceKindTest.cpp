#include "DeviceKind.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

using namespace owguard;

namespace {

constexpr std::uint32_t bit(unsigned type)
{
    return 1u << type;
}

TEST(DeviceKind, TakesWhatTypesOrPointsAndLeavesSwitchesAndSilentDevices)
{
    const std::uint32_t syn = bit(EV_SYN), key = bit(EV_KEY), rel = bit(EV_REL), abs = bit(EV_ABS), msc = bit(EV_MSC);
    const struct {
        const char* device;
        std::uint32_t types;
        DeviceKind kind;
    } rows[] = {
        {"keyboard", syn | key | msc | bit(EV_LED) | bit(EV_REP), DeviceKind::Input},
        {"mouse", syn | key | rel | msc, DeviceKind::Input},
        {"touchpad", syn | key | abs, DeviceKind::Input},
        {"touchscreen", syn | key | abs | msc, DeviceKind::Input},
        {"tablet", syn | key | abs | msc, DeviceKind::Input},
        {"pointing stick", syn | rel, DeviceKind::Input},
        {"power button", syn | key, DeviceKind::Input},
        {"hotkeys beside a switch", syn | key | bit(EV_SW), DeviceKind::Input},
        {"lid switch only", syn | bit(EV_SW), DeviceKind::Ignored},
        {"pc speaker", syn | bit(EV_SND), DeviceKind::Ignored},
        {"nothing", 0, DeviceKind::Ignored},
    };
    for (const auto& row : rows)
        EXPECT_EQ(deviceKind(row.types), row.kind) << row.device;
}

} // namespace
