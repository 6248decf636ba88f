#include "DeviceSource.h"

#include "EvdevDevice.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace owguard {

namespace {

// udevd's control socket: where it is missing no udevd runs, and no record will come.
constexpr const char* UdevControl = "/run/udev/control";
// udevd renames each device's record into place here once it has finished with the device.
constexpr const char* UdevRecords = "/run/udev/data";

bool isEventNode(const char* name)
{
    return std::strncmp(name, "event", 5) == 0;
}

} // namespace

DeviceSource::DeviceSource(std::string folder) : folder_(std::move(folder)), udev_(udev_new()) {}

DeviceSource::~DeviceSource()
{
    udev_unref(udev_);
}

bool DeviceSource::list(std::vector<std::string>& paths, std::string* error)
{
    DIR* dir = opendir(folder_.c_str());
    if (!dir) {
        *error = "cannot read " + folder_ + ": " + std::strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        if (isEventNode(entry->d_name))
            paths.push_back(folder_ + '/' + entry->d_name);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return true;
}

int DeviceSource::watch(std::string* error)
{
    // IN_ATTRIB too: a node another program held may be free by the time it changes.
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, folder_.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
        *error = "cannot watch " + folder_ + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    // Without it (no udevd, or none yet), a node waiting for its record is placed at the
    // end of the lock's wait instead.
    inotify_add_watch(fd, UdevRecords, IN_MOVED_TO | IN_CLOSE_WRITE);
    return fd;
}

DeviceSource::Changes DeviceSource::changed(int watchFd)
{
    Changes changes;
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = ::read(watchFd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            at += ssize_t(sizeof event + event.len);
            unsigned devMajor = 0, devMinor = 0;
            char rest = 0;
            if (event.mask & IN_Q_OVERFLOW) {
                changes.overflowed = true;
            } else if (event.len == 0) {
                continue;
            } else if (isEventNode(name)) {
                changes.paths.push_back(folder_ + '/' + name);
            } else if (udev_ && std::sscanf(name, "c%u:%u%c", &devMajor, &devMinor, &rest) == 2) {
                // A record finished: its node, by the device's own name (eventN).
                udev_device* device = udev_device_new_from_devnum(udev_, 'c', makedev(devMajor, devMinor));
                const char* node = device ? udev_device_get_sysname(device) : nullptr;
                if (node && isEventNode(node))
                    changes.paths.push_back(folder_ + '/' + node);
                udev_device_unref(device);
            }
        }
    }
    return changes;
}

std::unique_ptr<InputDevice> DeviceSource::open(const std::string& path)
{
    return EvdevDevice::open(path);
}

Placement DeviceSource::place(const std::string& path, const std::string& seat)
{
    struct stat node;
    if (stat(path.c_str(), &node) < 0 || !S_ISCHR(node.st_mode))
        return Placement::Gone;
    udev_device* device = udev_ ? udev_device_new_from_devnum(udev_, 'c', node.st_rdev) : nullptr;
    Placement placement = Placement::Unsettled;
    if (access(UdevControl, F_OK) != 0 || (device && udev_device_get_is_initialized(device) > 0)) {
        const char* id = device ? udev_device_get_property_value(device, "ID_SEAT") : nullptr;
        placement = seat == (id && *id ? id : "seat0") ? Placement::OnSeat : Placement::OtherSeat;
    }
    udev_device_unref(device);
    return placement;
}

} // namespace owguard
