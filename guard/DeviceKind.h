#pragma once

#include <cstdint>

namespace owguard {

// Whether a lock takes a device: anything that can move the pointer or send a key or
// button is taken; switches (the lid, a headphone jack) and LEDs alone are left alone.
enum class DeviceKind { Input, Ignored };

// eventTypes: bit n set when the device reports event type n (EV_KEY, EV_REL, ...).
DeviceKind deviceKind(std::uint32_t eventTypes);

} // namespace owguard
