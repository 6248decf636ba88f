#include "GuardFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace owguard::test {

namespace {

struct FakeTimer final : Timer {
    std::shared_ptr<std::function<void()>> fn;
};

class FakeDevice final : public InputDevice {
public:
    FakeDevice(FakeInput& input, int fd) : input_(input), fd_(fd) { input_.open = true; }
    ~FakeDevice() override { close(fd_); input_.open = false; }
    int fd() const override { return fd_; }
    const std::string& path() const override { return input_.path; }
    const std::string& name() const override { return input_.name; }
    std::uint32_t eventTypes() const override { return input_.types; }
    int grab() override { input_.grabbed = input_.grabResult == 0; return input_.grabResult; }
    void ungrab() override { input_.grabbed = false; }
    bool anyKeyDown() const override { return input_.keyDown; }
    int read(std::vector<input_event>& out, std::size_t max) override
    {
        if (input_.readError)
            return -input_.readError;
        input_event event;
        ssize_t length = -1;
        for (std::size_t n = 0; n < max && (length = recv(fd_, &event, sizeof event, MSG_DONTWAIT)) == sizeof event; ++n) {
            out.push_back(event);
            if (input_.flood)
                input_.send(event.type, event.code, event.value);
        }
        return length == 0 ? -ENODEV : 0;
    }

private:
    FakeInput& input_;
    int fd_;
};

} // namespace

std::unique_ptr<Timer> FakeClock::at(Time when, std::function<void()> fn)
{
    if (full)
        return nullptr;
    auto timer = std::make_unique<FakeTimer>();
    timer->fn = std::make_shared<std::function<void()>>(std::move(fn));
    timers_.emplace(when, timer->fn);
    return timer;
}

void FakeClock::advance(Time by)
{
    const Time end = now_ + by;
    while (!timers_.empty() && timers_.begin()->first <= end) {
        now_ = std::max(now_, timers_.begin()->first);
        const auto fn = timers_.begin()->second.lock(); // keeps it while the call destroys its timer
        timers_.erase(timers_.begin());
        if (fn)
            (*fn)();
    }
    now_ = end;
}

void FakeInput::send(unsigned short type, unsigned short code, int value) const
{
    const input_event event{{}, type, code, value};
    ASSERT_EQ(::send(peer, &event, sizeof event, MSG_NOSIGNAL), ssize_t(sizeof event));
}

FakeInput& FakeSource::add(std::string name, std::uint32_t types, bool later)
{
    auto& input = inputs.emplace_back(FakeInput{"/dev/input/event" + std::to_string(inputs.size()), std::move(name), types});
    if (later)
        touch(input);
    return input;
}

std::unique_ptr<InputDevice> FakeSource::open(const std::string& path)
{
    auto input = std::find_if(inputs.begin(), inputs.end(), [&](const auto& i) { return i.path == path; });
    int pair[2];
    socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
    input->peer = pair[1];
    return std::make_unique<FakeDevice>(*input, pair[0]);
}

void Bench::start()
{
    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
    lease = pair[0];
    std::string error;
    lock = InputLock::start(loop, source, {}, pair[1], *this, &error, clock);
    pump();
}

void Bench::released(ReleaseReason reason)
{
    log.push_back(std::string("released ") + reasonName(reason));
    grabbedAtRelease = int(std::count_if(source.inputs.begin(), source.inputs.end(), [](const auto& i) { return i.grabbed; }));
}

} // namespace owguard::test
