#include "EvdevDevice.h"

#include <libevdev/libevdev.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace owguard {

std::unique_ptr<EvdevDevice> EvdevDevice::open(const std::string& path)
{
    // O_CLOEXEC: no helper we start may keep a device, and so a grab, alive.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    libevdev* device = nullptr;
    if (const int rc = libevdev_new_from_fd(fd, &device); rc < 0) {
        ::close(fd);
        errno = -rc;
        return nullptr;
    }
    return std::unique_ptr<EvdevDevice>(new EvdevDevice(path, fd, device));
}

EvdevDevice::EvdevDevice(std::string path, int fd, libevdev* device)
    : path_(std::move(path)), fd_(fd), device_(device), name_(libevdev_get_name(device))
{
    for (unsigned type = 0; type <= EV_MAX; ++type) {
        if (libevdev_has_event_type(device, type))
            eventTypes_ |= 1u << type;
    }
}

EvdevDevice::~EvdevDevice()
{
    libevdev_free(device_);
    ::close(fd_); // also ends a grab
}

int EvdevDevice::grab()
{
    return libevdev_grab(device_, LIBEVDEV_GRAB);
}

void EvdevDevice::ungrab()
{
    libevdev_grab(device_, LIBEVDEV_UNGRAB);
}

bool EvdevDevice::anyKeyDown() const
{
    std::array<unsigned char, KEY_MAX / 8 + 1> keys{};
    if (ioctl(fd_, EVIOCGKEY(keys.size()), keys.data()) < 0)
        return false;
    return std::any_of(keys.begin(), keys.end(), [](unsigned char bits) { return bits != 0; });
}

int EvdevDevice::read(std::vector<input_event>& out, std::size_t max)
{
    // After the kernel dropped events (SYN_DROPPED) libevdev replays the difference first;
    // it is read whole, as stopping inside it would lose the keys' states.
    unsigned flag = LIBEVDEV_READ_FLAG_NORMAL;
    for (std::size_t count = 0; count < max || flag == LIBEVDEV_READ_FLAG_SYNC;) {
        input_event event;
        const int rc = libevdev_next_event(device_, flag, &event);
        if (rc == LIBEVDEV_READ_STATUS_SUCCESS || rc == LIBEVDEV_READ_STATUS_SYNC) {
            if (rc == LIBEVDEV_READ_STATUS_SYNC)
                flag = LIBEVDEV_READ_FLAG_SYNC;
            out.push_back(event);
            ++count;
        } else if (rc == -EAGAIN && flag == LIBEVDEV_READ_FLAG_SYNC) {
            flag = LIBEVDEV_READ_FLAG_NORMAL;
        } else if (rc == -EAGAIN) {
            return 0;
        } else if (rc != -EINTR) {
            return rc;
        }
    }
    return 0;
}

} // namespace owguard
