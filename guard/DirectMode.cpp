#include "DirectMode.h"

#include "DeviceSource.h"

#include <systemd/sd-event.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>

namespace owguard {

namespace {

// "--name=value" with value a whole number in [min, max].
bool parseNumber(std::string_view arg, std::string_view name, unsigned min, unsigned max, unsigned& value)
{
    const std::string_view text = arg.substr(name.size());
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && value >= min && value <= max;
}

int usage(const char* problem)
{
    std::fprintf(stderr, "orbinwash-inputguard: %s\nusage: orbinwash-inputguard --direct --lease-fd=N "
                 "[--hold-seconds=1..30] [--timeout-seconds=1..900] [--device-dir=DIR]\n", problem);
    return 2;
}

} // namespace

int DirectMode::run(int argc, char** argv)
{
    LockOptions options;
    std::string folder = "/dev/input";
    unsigned leaseFd = 0;
    bool haveLease = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool ok = false;
        if (arg.starts_with("--lease-fd="))
            ok = haveLease = parseNumber(arg, "--lease-fd=", 0, 1u << 30, leaseFd) && fcntl(int(leaseFd), F_GETFD) >= 0;
        else if (arg.starts_with("--hold-seconds="))
            ok = parseNumber(arg, "--hold-seconds=", 1, 30, options.holdSeconds);
        else if (arg.starts_with("--timeout-seconds="))
            ok = parseNumber(arg, "--timeout-seconds=", 1, 900, options.timeoutSeconds);
        else if (arg.starts_with("--device-dir=")) {
            folder = arg.substr(std::strlen("--device-dir="));
            ok = !folder.empty();
        }
        if (!ok)
            return usage(("bad argument " + std::string(arg)).c_str());
    }
    if (!haveLease)
        return usage("--lease-fd is required");

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    sd_event* loop = nullptr;
    if (sd_event_new(&loop) < 0)
        return 1;
    DirectMode mode(loop);
    sd_event_add_signal(loop, nullptr, SIGTERM, &onSignal, &mode);
    sd_event_add_signal(loop, nullptr, SIGINT, &onSignal, &mode);
    DeviceSource devices(folder);
    std::string error;
    int status = 1;
    if (auto lock = InputLock::start(loop, devices, options, int(leaseFd), mode, &error)) {
        mode.lock_ = lock.get();
        std::printf("locked %u\n", mode.grabbed_);
        status = sd_event_loop(loop) < 0 ? 1 : 0;
    } else {
        std::fprintf(stderr, "orbinwash-inputguard: %s\n", error.c_str());
    }
    sd_event_unref(loop);
    return status;
}

int DirectMode::onSignal(sd_event_source*, const signalfd_siginfo*, void* userdata)
{
    static_cast<DirectMode*>(userdata)->lock_->release(ReleaseReason::Requested);
    return 0;
}

void DirectMode::grabbed(const std::string& devicePath)
{
    ++grabbed_;
    std::printf("grabbed %s\n", devicePath.c_str());
}

void DirectMode::refused(const std::string& devicePath, const std::string& deviceName)
{
    std::printf("refused %s %s\n", devicePath.c_str(), deviceName.c_str());
}

void DirectMode::progress(double fraction)
{
    std::printf("progress %.3f\n", fraction);
}

void DirectMode::released(ReleaseReason reason)
{
    std::printf("released %s\n", reasonName(reason));
    sd_event_exit(loop_, 0);
}

} // namespace owguard
