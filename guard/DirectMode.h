#pragma once

#include "InputLock.h"

struct sd_event;
struct signalfd_siginfo;

namespace owguard {

// The lock without D-Bus, for the kernel tests and for debugging, as root:
//   --direct --lease-fd=N [--hold-seconds=S] [--timeout-seconds=T] [--device-dir=/dev/input]
// One line per event on stdout; exits 0 once released, 2 on bad arguments, 1 when the lock
// cannot start.
class DirectMode final : public LockListener {
public:
    static int run(int argc, char** argv);

    void grabbed(const std::string& devicePath) override;
    void refused(const std::string& devicePath, const std::string& deviceName) override;
    void progress(double fraction) override;
    void released(ReleaseReason reason) override;

private:
    explicit DirectMode(sd_event* loop) : loop_(loop) {}
    static int onSignal(sd_event_source*, const signalfd_siginfo*, void* userdata);

    sd_event* loop_;
    InputLock* lock_ = nullptr;
    unsigned grabbed_ = 0;
};

} // namespace owguard
