#pragma once

#include "Chord.h"
#include "Clock.h"

#include <linux/input.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct sd_event;
struct sd_event_source;

namespace owguard {

class DeviceSource;

enum class ReleaseReason { Chord, Timeout, ClientGone, SessionInactive, DeviceError, Requested };
// "chord" "timeout" "client-gone" "session-inactive" "device-error" "requested"
const char* reasonName(ReleaseReason reason);

struct LockOptions {
    unsigned holdSeconds = 3;      // 1..30
    unsigned timeoutSeconds = 900; // 1..900
    std::string seat = "seat0";
};

class LockListener {
public:
    virtual ~LockListener() = default;
    // Each device taken, also ones that appear later.
    virtual void grabbed(const std::string& devicePath) = 0;
    // A device another process holds (EBUSY), that cannot be opened or waited for, or whose
    // seat udev has not told in time; the lock goes on.
    virtual void refused(const std::string& devicePath, const std::string& deviceName) = 0;
    // The chord held: rising 0..1, at most 30 times a second; 0 once when it breaks.
    virtual void progress(double fraction) = 0;
    // Exactly once; every device is ungrabbed before. The only callback that may destroy the lock.
    virtual void released(ReleaseReason reason) = 0;
};

// One lock on an sd-event loop.
class InputLock {
public:
    // Grabs every device of the seat (waiting, bounded, until no key or button is down on
    // each so nothing is left stuck in the session, and for udev to tell the seat of a
    // device it has not finished with), watches for new ones, the lease fd
    // (hang-up or error → ClientGone), the chord and the CLOCK_BOOTTIME timeout. Takes
    // ownership of leaseFd. Returns nullptr and sets *error when the device folder
    // cannot be read at all.
    static std::unique_ptr<InputLock> start(sd_event* loop, DeviceSource& devices, LockOptions options,
                                            int leaseFd, LockListener& listener, std::string* error);
    // The same with the timing on the given clock, which must outlive the lock.
    static std::unique_ptr<InputLock> start(sd_event* loop, DeviceSource& devices, LockOptions options,
                                            int leaseFd, LockListener& listener, std::string* error,
                                            Clock& clock);
    ~InputLock(); // releases (Requested) if still held
    InputLock(const InputLock&) = delete;
    InputLock& operator=(const InputLock&) = delete;

    void release(ReleaseReason reason); // ends now; a second call does nothing
    bool isHeld() const;

private:
    struct Device;

    InputLock(sd_event* loop, DeviceSource& devices, LockOptions options, int leaseFd,
              LockListener& listener, Clock& clock);
    bool begin(std::string* error);
    void stop();
    void add(const std::string& path);
    void awaitUdev(const std::string& path);
    void refuseUnplaced(const std::string& path);
    void tryGrab(Device& device);
    void refuse(const std::string& path, const std::string& name);
    void drop(Device& device);
    void readDevice(Device& device, uint32_t events);
    void readLease(uint32_t events);
    void readWatch();
    void updateChord();
    static int onDevice(sd_event_source*, int, uint32_t events, void* userdata);
    static int onLease(sd_event_source*, int, uint32_t events, void* userdata);
    static int onWatch(sd_event_source*, int, uint32_t events, void* userdata);

    sd_event* loop_;
    DeviceSource& source_;
    LockOptions options_;
    LockListener& listener_;
    std::unique_ptr<Clock> ownClock_;
    Clock& clock_;
    Chord chord_;
    bool held_ = true;
    int leaseFd_;
    int watchFd_ = -1;
    sd_event_source* leaseSource_ = nullptr;
    sd_event_source* watchSource_ = nullptr;
    std::unique_ptr<Timer> timeout_;
    std::unique_ptr<Timer> chordTimer_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<input_event> events_;
    std::set<std::string> refused_;
    std::map<std::string, std::unique_ptr<Timer>> unsettled_; // nodes waiting for udev's record
    int nextDeviceId_ = 0;
};

} // namespace owguard
