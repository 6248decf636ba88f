#pragma once

namespace ow {

class UserDefaults;

// Seconds the two unlock keys must be held: the user's choice, else the server's,
// else 3. Values outside 1 to 30 are ignored, never clamped. Read afresh at every use,
// so a change takes effect even in the middle of a hold.
double holdDuration(const UserDefaults& defaults);

namespace DefaultsKey {
inline constexpr char HoldSecondsUser[] = "OWHoldSecondsUser";
inline constexpr char HoldSeconds[] = "OWHoldSeconds";
} // namespace DefaultsKey

} // namespace ow
