#include "DeviceSource.h"

#include "EvdevDevice.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace owguard {

namespace {

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

bool DeviceSource::list(const std::string& seat, std::vector<std::string>& paths, std::string* error)
{
    DIR* dir = opendir(folder_.c_str());
    if (!dir) {
        *error = "cannot read " + folder_ + ": " + std::strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string path = folder_ + '/' + entry->d_name;
        if (isEventNode(entry->d_name) && onSeat(path, seat))
            paths.push_back(path);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return true;
}

int DeviceSource::watch(std::string* error)
{
    // IN_ATTRIB too: a node may appear before udev has told its seat, and udev changes its
    // attributes once it has.
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, folder_.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
        *error = "cannot watch " + folder_ + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::string> DeviceSource::appeared(int watchFd, const std::string& seat)
{
    std::vector<std::string> paths;
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = ::read(watchFd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            if (event.len > 0 && isEventNode(name) && onSeat(folder_ + '/' + name, seat))
                paths.push_back(folder_ + '/' + name);
            at += ssize_t(sizeof event + event.len);
        }
    }
    return paths;
}

std::unique_ptr<InputDevice> DeviceSource::open(const std::string& path)
{
    return EvdevDevice::open(path);
}

bool DeviceSource::onSeat(const std::string& path, const std::string& seat) const
{
    struct stat node;
    if (stat(path.c_str(), &node) < 0 || !S_ISCHR(node.st_mode))
        return false;
    const char* id = nullptr;
    udev_device* device = udev_ ? udev_device_new_from_devnum(udev_, 'c', node.st_rdev) : nullptr;
    if (device)
        id = udev_device_get_property_value(device, "ID_SEAT");
    const bool match = seat == (id && *id ? id : "seat0");
    udev_device_unref(device);
    return match;
}

} // namespace owguard
