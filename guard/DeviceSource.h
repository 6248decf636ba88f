#pragma once

#include "InputDevice.h"

#include <memory>
#include <string>
#include <vector>

struct udev;

namespace owguard {

// Where a node belongs, by udev's record of it.
enum class Placement { OnSeat, OtherSeat, Unsettled, Gone };

// The event device nodes of one folder (/dev/input) and the seat each belongs to (udev's
// ID_SEAT, "seat0" when unset). A lock takes its devices through here; tests put fakes in
// its place.
class DeviceSource {
public:
    explicit DeviceSource(std::string folder = "/dev/input");
    virtual ~DeviceSource();
    DeviceSource(const DeviceSource&) = delete;
    DeviceSource& operator=(const DeviceSource&) = delete;

    // Every event node present now, of any seat; false with *error when the folder cannot be read.
    virtual bool list(std::vector<std::string>& paths, std::string* error);
    // An fd, for the caller to close, that turns readable when nodes appear or change in the
    // folder or udev finishes a node's record; -1 with *error when the folder cannot be
    // watched. Watch before listing, so none slips through.
    virtual int watch(std::string* error);
    struct Changes {
        std::vector<std::string> paths; // nodes to place again
        bool overflowed = false;        // some news was lost: list again
    };
    // Drains the watch fd.
    virtual Changes changed(int watchFd);
    // Whether the node is of the seat. Decided from udev's finished record only: a node
    // appears before udev has read its seat, so until then it is Unsettled. Where no udevd
    // runs at all, every node is seat0's. Gone: no such device node (any more).
    virtual Placement place(const std::string& path, const std::string& seat);
    // Opens one node; nullptr with errno set when it cannot.
    virtual std::unique_ptr<InputDevice> open(const std::string& path);

private:
    std::string folder_;
    udev* udev_;
};

} // namespace owguard
