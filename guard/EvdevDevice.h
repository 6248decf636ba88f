#pragma once

#include "InputDevice.h"

#include <memory>

struct libevdev;

namespace owguard {

// An event device node read through libevdev.
class EvdevDevice final : public InputDevice {
public:
    // nullptr with errno set when the node cannot be opened or is no event device.
    static std::unique_ptr<EvdevDevice> open(const std::string& path);
    ~EvdevDevice() override;
    EvdevDevice(const EvdevDevice&) = delete;
    EvdevDevice& operator=(const EvdevDevice&) = delete;

    int fd() const override { return fd_; }
    const std::string& path() const override { return path_; }
    const std::string& name() const override { return name_; }
    std::uint32_t eventTypes() const override { return eventTypes_; }
    int grab() override;
    void ungrab() override;
    bool anyKeyDown() const override;
    int read(std::vector<input_event>& out, std::size_t max) override;

private:
    EvdevDevice(std::string path, int fd, libevdev* device);

    std::string path_;
    int fd_;
    libevdev* device_;
    std::string name_;
    std::uint32_t eventTypes_ = 0;
};

} // namespace owguard
