#pragma once

#include "InputDevice.h"

#include <memory>
#include <string>
#include <vector>

struct udev;

namespace owguard {

// The event device nodes of one folder (/dev/input) and the seat each belongs to (udev's
// ID_SEAT, "seat0" when unset or when udev knows nothing of the node, as without udevd).
// A lock takes its devices through here; tests put fakes in its place.
class DeviceSource {
public:
    explicit DeviceSource(std::string folder = "/dev/input");
    virtual ~DeviceSource();
    DeviceSource(const DeviceSource&) = delete;
    DeviceSource& operator=(const DeviceSource&) = delete;

    // The nodes of the seat present now; false with *error when the folder cannot be read.
    virtual bool list(const std::string& seat, std::vector<std::string>& paths, std::string* error);
    // An fd, for the caller to close, that turns readable when nodes appear in the folder;
    // -1 with *error when it cannot be watched. Watch before listing, so none slips through.
    virtual int watch(std::string* error);
    // Drains the watch fd: the nodes of the seat that appeared since.
    virtual std::vector<std::string> appeared(int watchFd, const std::string& seat);
    // Opens one node; nullptr with errno set when it cannot.
    virtual std::unique_ptr<InputDevice> open(const std::string& path);

private:
    bool onSeat(const std::string& path, const std::string& seat) const;

    std::string folder_;
    udev* udev_;
};

} // namespace owguard
