#pragma once

#include <linux/input.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace owguard {

// One opened event device. Errors are negative errno values.
class InputDevice {
public:
    virtual ~InputDevice() = default;

    virtual int fd() const = 0;
    virtual const std::string& path() const = 0;
    virtual const std::string& name() const = 0;
    // Bit n set when the device reports event type n.
    virtual std::uint32_t eventTypes() const = 0;

    // Takes the device for this process alone (EVIOCGRAB): 0, or e.g. -EBUSY when another holds it.
    virtual int grab() = 0;
    virtual void ungrab() = 0;
    // Whether any key or button is down right now, by the kernel's state.
    virtual bool anyKeyDown() const = 0;
    // Appends pending events to out, at most about max (a replay after the kernel dropped
    // events is read whole): 0 once drained or max read, a negative errno when reading
    // failed (-ENODEV: unplugged).
    virtual int read(std::vector<input_event>& out, std::size_t max) = 0;
};

} // namespace owguard
