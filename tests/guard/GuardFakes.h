#pragma once

#include "Clock.h"
#include "DeviceSource.h"
#include "InputLock.h"

#include <systemd/sd-event.h>

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>

namespace owguard::test {

// Virtual time: timers fire only when a test advances the clock.
class FakeClock final : public Clock {
public:
    Time now() const override { return now_; }
    std::unique_ptr<Timer> at(Time when, std::function<void()> fn) override;
    void advance(Time by); // fires every timer due on the way, in order, at its own time
    bool full = false;     // no timer can be had

private:
    std::multimap<Time, std::weak_ptr<std::function<void()>>> timers_; // a timer owns its function
    Time now_ = std::chrono::hours(1);
};

// One fake device as the test sets and sees it. Once the lock opens it, events written to
// `peer` (a socketpair) reach the lock, and closing `peer` unplugs it.
struct FakeInput {
    std::string path, name;
    std::uint32_t types;
    int grabResult = 0;
    bool keyDown = false;
    int readError = 0; // reads fail with it once set
    bool flood = false; // each event read is sent again: it never runs dry
    Placement placement = Placement::OnSeat;
    int peer = -1;
    bool open = false, grabbed = false;

    void send(unsigned short type, unsigned short code, int value) const;
};

class FakeSource final : public DeviceSource {
public:
    ~FakeSource() override { for (const auto& input : inputs) close(input.peer); }
    // There when the lock starts, or plugged in later.
    FakeInput& add(std::string name, std::uint32_t types, bool later = false);
    // Its node appears or changes, or udev finishes its record.
    void touch(const FakeInput& input) { changes_.paths.push_back(input.path); eventfd_write(watchFd_, 1); }
    // The news of the folder was more than the queue held.
    void overflow() { changes_.overflowed = true; eventfd_write(watchFd_, 1); }

    bool list(std::vector<std::string>& paths, std::string* error) override
    {
        if (!readable)
            *error = "unreadable";
        for (const auto& input : inputs)
            paths.push_back(input.path);
        return readable;
    }
    int watch(std::string*) override { return watchFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
    Changes changed(int watchFd) override
    {
        eventfd_t count;
        eventfd_read(watchFd, &count);
        return std::exchange(changes_, {});
    }
    Placement place(const std::string& path, const std::string&) override
    {
        return std::find_if(inputs.begin(), inputs.end(), [&](const auto& i) { return i.path == path; })->placement;
    }
    std::unique_ptr<InputDevice> open(const std::string& path) override;

    bool readable = true;
    std::list<FakeInput> inputs;

private:
    Changes changes_;
    int watchFd_ = -1;
};

// A lock on a fresh loop with fake devices and a listener that writes down what it hears.
struct Bench final : LockListener {
    Bench() { sd_event_new(&loop); }
    ~Bench() override { lock.reset(); close(lease); sd_event_unref(loop); }
    void start();
    // Until nothing is pending, or a device that floods has had its turns.
    void pump() { for (int turn = 0; turn < 100 && sd_event_run(loop, 0) > 0; ++turn) {} }
    void advance(Time by) { pump(); clock.advance(by); pump(); } // what was sent, before the time passes
    int releases() const { return int(std::count_if(log.begin(), log.end(), [](auto& l) { return l.starts_with("released"); })); }

    void grabbed(const std::string& path) override { log.push_back("grabbed " + path); }
    void refused(const std::string& path, const std::string& name) override { log.push_back("refused " + path + ' ' + name); }
    void progress(double fraction) override { progressLog.emplace_back(clock.now(), fraction); }
    void released(ReleaseReason reason) override;

    sd_event* loop = nullptr;
    FakeClock clock;
    FakeSource source;
    std::unique_ptr<InputLock> lock;
    int lease = -1; // the client's end
    std::vector<std::string> log;
    std::vector<std::pair<Time, double>> progressLog;
    int grabbedAtRelease = -1;
};

constexpr std::uint32_t Keys = 1u << EV_KEY, Rel = 1u << EV_REL, Abs = 1u << EV_ABS, Sw = 1u << EV_SW;

} // namespace owguard::test
