#pragma once

#include "Clock.h"

#include <optional>
#include <set>
#include <utility>

namespace owguard {

// The unlock chord: both Ctrl keys or both Super keys held together for the hold time, on
// any devices. Only presses seen here count, so a key already down when the lock began
// counts once it is pressed again; autorepeat changes nothing.
class Chord {
public:
    // Progress goes out at most this often, so a bouncing key cannot flood the listener.
    static constexpr Time ReportInterval = std::chrono::milliseconds(40);

    explicit Chord(Time hold);

    // One EV_KEY event of a device: value 0 released, 1 pressed, 2 autorepeat.
    void key(int device, unsigned code, int value, Time now);
    // The device is gone: its keys are up.
    void forget(int device, Time now);

    bool complete(Time now) const;
    // What to report now, if anything: the held fraction, or 0 once after the chord broke.
    std::optional<double> report(Time now);
    // When report() or complete() will next have news, while there is any to come.
    std::optional<Time> wakeAt() const;

private:
    void update(Time now);

    Time hold_;
    std::set<std::pair<int, unsigned>> down_; // (device, code) of the chord's keys
    std::optional<Time> heldSince_;
    std::optional<Time> reportedAt_;
    double reported_ = 0;
};

} // namespace owguard
