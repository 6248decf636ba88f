#include "InputLock.h"

#include "DeviceKind.h"
#include "DeviceSource.h"

#include <systemd/sd-event.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace owguard {

namespace {

// A key held when the lock starts is let through until released, so the session does not
// keep it down; a cloth may hold one for ever, so each device waits this long at most.
constexpr Time NeutralWait = std::chrono::seconds(1);
constexpr Time NeutralRetry = std::chrono::milliseconds(20);
// udev finishes with a new device in milliseconds; one it has not told the seat of by then
// is named as not taken (and still taken should udev tell this seat later).
constexpr Time UdevWait = std::chrono::seconds(5);
// Events read from one device per wake-up: one that floods cannot starve the lease, the
// chord, the timers or the watchdog's pings.
constexpr std::size_t MaxEventsPerWake = 256;

// Whether a device's fd was hung up (unplugged) with the news not yet read.
bool hungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

} // namespace

struct InputLock::Device {
    Device(InputLock& owner, std::unique_ptr<InputDevice> device, int deviceId)
        : lock(owner), input(std::move(device)), id(deviceId)
    {
    }
    ~Device()
    {
        sd_event_source_disable_unref(source);
        if (grabbed)
            input->ungrab();
    }

    InputLock& lock;
    std::unique_ptr<InputDevice> input;
    int id;
    sd_event_source* source = nullptr;
    bool grabbed = false;
    Time waitEnds{};
    std::unique_ptr<Timer> retry;
};

const char* reasonName(ReleaseReason reason)
{
    switch (reason) {
    case ReleaseReason::Chord: return "chord";
    case ReleaseReason::Timeout: return "timeout";
    case ReleaseReason::ClientGone: return "client-gone";
    case ReleaseReason::SessionInactive: return "session-inactive";
    case ReleaseReason::DeviceError: return "device-error";
    case ReleaseReason::Requested: break;
    }
    return "requested";
}

std::unique_ptr<InputLock> InputLock::start(sd_event* loop, DeviceSource& devices, LockOptions options,
                                            int leaseFd, LockListener& listener, std::string* error)
{
    auto clock = Clock::boottime(loop);
    Clock& ref = *clock;
    std::unique_ptr<InputLock> lock(new InputLock(loop, devices, std::move(options), leaseFd, listener, ref));
    lock->ownClock_ = std::move(clock);
    if (!lock->begin(error))
        return nullptr;
    return lock;
}

std::unique_ptr<InputLock> InputLock::start(sd_event* loop, DeviceSource& devices, LockOptions options,
                                            int leaseFd, LockListener& listener, std::string* error,
                                            Clock& clock)
{
    std::unique_ptr<InputLock> lock(new InputLock(loop, devices, std::move(options), leaseFd, listener, clock));
    if (!lock->begin(error))
        return nullptr;
    return lock;
}

InputLock::InputLock(sd_event* loop, DeviceSource& devices, LockOptions options, int leaseFd,
                     LockListener& listener, Clock& clock)
    : loop_(loop), source_(devices), options_(std::move(options)), listener_(listener), clock_(clock),
      chord_(std::chrono::seconds(options_.holdSeconds)), leaseFd_(leaseFd)
{
}

InputLock::~InputLock()
{
    release(ReleaseReason::Requested);
}

bool InputLock::begin(std::string* error)
{
    // The deadline and the lease come first: whatever happens next, the lock can end.
    timeout_ = clock_.at(clock_.now() + std::chrono::seconds(options_.timeoutSeconds),
                         [this] { release(ReleaseReason::Timeout); });
    std::vector<std::string> paths;
    bool ok = timeout_ && sd_event_add_io(loop_, &leaseSource_, leaseFd_, EPOLLIN | EPOLLRDHUP, &onLease, this) >= 0;
    if (!ok)
        *error = "cannot watch the lease";
    ok = ok && (watchFd_ = source_.watch(error)) >= 0;
    if (ok && sd_event_add_io(loop_, &watchSource_, watchFd_, EPOLLIN, &onWatch, this) < 0) {
        *error = "cannot watch for new devices";
        ok = false;
    }
    if (!ok || !source_.list(paths, error)) {
        stop(); // nothing was grabbed yet, so there is no lock to report on
        return false;
    }
    for (const auto& path : paths)
        add(path);
    return true;
}

void InputLock::release(ReleaseReason reason)
{
    if (!held_)
        return;
    stop();
    listener_.released(reason);
}

void InputLock::stop()
{
    held_ = false;
    devices_.clear(); // ungrabs each
    unsettled_.clear();
    timeout_.reset();
    chordTimer_.reset();
    leaseSource_ = sd_event_source_disable_unref(leaseSource_);
    watchSource_ = sd_event_source_disable_unref(watchSource_);
    close(leaseFd_);
    if (watchFd_ >= 0)
        close(watchFd_);
}

bool InputLock::isHeld() const
{
    return held_;
}

void InputLock::add(const std::string& path)
{
    const auto held = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d->input->path() == path; });
    if (held != devices_.end()) {
        // A device re-plugged at once can be at its old node before the old one's hang-up is read.
        if (!hungUp((*held)->input->fd()))
            return;
        drop(**held);
    }
    const Placement placement = source_.place(path, options_.seat);
    if (placement == Placement::Unsettled)
        return awaitUdev(path);
    if (placement != Placement::OnSeat)
        return;
    auto input = source_.open(path);
    if (!input) {
        // Gone again already, or unreadable: say so, a device we cannot open still types.
        if (errno != ENOENT && errno != ENODEV && errno != ENXIO)
            refuse(path, std::string());
        return;
    }
    if (deviceKind(input->eventTypes()) != DeviceKind::Input)
        return;
    auto& device = *devices_.emplace_back(std::make_unique<Device>(*this, std::move(input), nextDeviceId_++));
    if (sd_event_add_io(loop_, &device.source, device.input->fd(), EPOLLIN, &onDevice, &device) < 0) {
        refuse(path, device.input->name());
        drop(device);
        return;
    }
    device.waitEnds = clock_.now() + NeutralWait;
    tryGrab(device);
}

void InputLock::awaitUdev(const std::string& path)
{
    // Its record's news brings it back to add(); this is for news that never comes.
    if (unsettled_.count(path))
        return;
    auto timer = clock_.at(clock_.now() + UdevWait, [this, path] {
        unsettled_.erase(path);
        if (source_.place(path, options_.seat) == Placement::Unsettled)
            refuseUnplaced(path);
        else
            add(path);
    });
    if (timer)
        unsettled_[path] = std::move(timer);
    else
        refuseUnplaced(path);
}

void InputLock::refuseUnplaced(const std::string& path)
{
    // A switch is no loss; anything else may type on this seat for all we know.
    auto input = source_.open(path);
    if (!input || deviceKind(input->eventTypes()) == DeviceKind::Input)
        refuse(path, input ? input->name() : std::string());
}

void InputLock::tryGrab(Device& device)
{
    if (device.input->grab() < 0) {
        refuse(device.input->path(), device.input->name());
        drop(device);
        return;
    }
    const Time now = clock_.now();
    if (now < device.waitEnds && device.input->anyKeyDown()) {
        // Let the session see the release first, then try again.
        device.input->ungrab();
        device.retry = clock_.at(now + NeutralRetry, [this, &device] { tryGrab(device); });
        if (!device.retry) {
            refuse(device.input->path(), device.input->name());
            drop(device);
        }
        return;
    }
    device.grabbed = true;
    listener_.grabbed(device.input->path());
}

void InputLock::refuse(const std::string& path, const std::string& name)
{
    // A refused node is tried again when its attributes change; it is news only once.
    if (refused_.insert(path).second)
        listener_.refused(path, name);
}

void InputLock::drop(Device& device)
{
    chord_.forget(device.id, clock_.now());
    std::erase_if(devices_, [&](const auto& d) { return d.get() == &device; });
}

void InputLock::readDevice(Device& device, uint32_t events)
{
    events_.clear();
    const int rc = device.input->read(events_, MaxEventsPerWake);
    const bool gone = rc == -ENODEV || (rc == 0 && (events & (EPOLLHUP | EPOLLERR)));
    if (gone || (rc < 0 && !device.grabbed)) {
        drop(device);
        updateChord();
        return;
    }
    if (rc < 0) {
        // A grabbed device we cannot read may be where the chord is typed: give it all back.
        release(ReleaseReason::DeviceError);
        return;
    }
    if (!device.grabbed)
        return; // keys the session sees while we wait do not count
    const Time now = clock_.now();
    for (const auto& event : events_) {
        if (event.type == EV_KEY)
            chord_.key(device.id, event.code, event.value, now);
    }
    updateChord();
}

void InputLock::readLease(uint32_t events)
{
    char buffer[64];
    const ssize_t length = (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) ? 0 : ::read(leaseFd_, buffer, sizeof buffer);
    if (length == 0 || (length < 0 && errno != EAGAIN && errno != EINTR))
        release(ReleaseReason::ClientGone);
}

void InputLock::readWatch()
{
    auto changes = source_.changed(watchFd_);
    std::string error;
    // The kernel dropped news of the folder: every node is looked at again.
    if (changes.overflowed)
        source_.list(changes.paths, &error);
    for (const auto& path : changes.paths)
        add(path);
}

void InputLock::updateChord()
{
    const Time now = clock_.now();
    if (chord_.complete(now)) {
        release(ReleaseReason::Chord);
        return;
    }
    if (const auto fraction = chord_.report(now))
        listener_.progress(*fraction);
    if (const auto wake = chord_.wakeAt())
        chordTimer_ = clock_.at(*wake, [this] { updateChord(); });
    else
        chordTimer_.reset();
}

int InputLock::onDevice(sd_event_source*, int, uint32_t events, void* userdata)
{
    auto& device = *static_cast<Device*>(userdata);
    device.lock.readDevice(device, events);
    return 0;
}

int InputLock::onLease(sd_event_source*, int, uint32_t events, void* userdata)
{
    static_cast<InputLock*>(userdata)->readLease(events);
    return 0;
}

int InputLock::onWatch(sd_event_source*, int, uint32_t, void* userdata)
{
    static_cast<InputLock*>(userdata)->readWatch();
    return 0;
}

} // namespace owguard
