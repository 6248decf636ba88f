#include "DeviceKind.h"

#include <linux/input-event-codes.h>

namespace owguard {

DeviceKind deviceKind(std::uint32_t eventTypes)
{
    constexpr std::uint32_t input = (1u << EV_KEY) | (1u << EV_REL) | (1u << EV_ABS);
    return (eventTypes & input) != 0 ? DeviceKind::Input : DeviceKind::Ignored;
}

} // namespace owguard
