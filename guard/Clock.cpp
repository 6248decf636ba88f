#include "Clock.h"

#include <systemd/sd-event.h>

#include <ctime>

namespace owguard {

namespace {

class EventTimer final : public Timer {
public:
    explicit EventTimer(std::function<void()> fn) : fn_(std::move(fn)) {}
    ~EventTimer() override { sd_event_source_disable_unref(source_); }

    static int fire(sd_event_source*, uint64_t, void* userdata)
    {
        // The callback may destroy this timer: run a copy that outlives it.
        auto fn = std::move(static_cast<EventTimer*>(userdata)->fn_);
        fn();
        return 0;
    }

    sd_event_source* source_ = nullptr;

private:
    std::function<void()> fn_;
};

class BoottimeClock final : public Clock {
public:
    explicit BoottimeClock(sd_event* loop) : loop_(loop) {}

    Time now() const override
    {
        uint64_t usec = 0;
        sd_event_now(loop_, CLOCK_BOOTTIME, &usec);
        return Time(usec);
    }

    std::unique_ptr<Timer> at(Time when, std::function<void()> fn) override
    {
        auto timer = std::make_unique<EventTimer>(std::move(fn));
        // Accuracy 1 µs: the default coalescing slack (250 ms) would blur a hold.
        if (sd_event_add_time(loop_, &timer->source_, CLOCK_BOOTTIME, uint64_t(when.count()), 1,
                              &EventTimer::fire, timer.get()) < 0)
            return nullptr;
        return timer;
    }

private:
    sd_event* loop_;
};

} // namespace

std::unique_ptr<Clock> Clock::boottime(sd_event* loop)
{
    return std::make_unique<BoottimeClock>(loop);
}

} // namespace owguard
