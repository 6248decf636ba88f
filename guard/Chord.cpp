#include "Chord.h"

#include <linux/input-event-codes.h>

#include <algorithm>

namespace owguard {

namespace {

bool isChordKey(unsigned code)
{
    return code == KEY_LEFTCTRL || code == KEY_RIGHTCTRL || code == KEY_LEFTMETA || code == KEY_RIGHTMETA;
}

} // namespace

Chord::Chord(Time hold) : hold_(hold) {}

void Chord::key(int device, unsigned code, int value, Time now)
{
    if (!isChordKey(code) || value == 2)
        return;
    if (value == 1)
        down_.insert({device, code});
    else
        down_.erase({device, code});
    update(now);
}

void Chord::forget(int device, Time now)
{
    std::erase_if(down_, [device](const auto& key) { return key.first == device; });
    update(now);
}

void Chord::update(Time now)
{
    const auto isDown = [this](unsigned code) {
        return std::any_of(down_.begin(), down_.end(), [code](const auto& key) { return key.second == code; });
    };
    const bool held = (isDown(KEY_LEFTCTRL) && isDown(KEY_RIGHTCTRL))
        || (isDown(KEY_LEFTMETA) && isDown(KEY_RIGHTMETA));
    if (!held)
        heldSince_.reset();
    else if (!heldSince_)
        heldSince_ = now;
}

bool Chord::complete(Time now) const
{
    return heldSince_ && now - *heldSince_ >= hold_;
}

std::optional<double> Chord::report(Time now)
{
    if (reportedAt_ && now < *reportedAt_ + ReportInterval)
        return std::nullopt;
    if (!heldSince_ && reported_ == 0)
        return std::nullopt;
    reported_ = heldSince_ ? std::min(1.0, double((now - *heldSince_).count()) / double(hold_.count())) : 0.0;
    reportedAt_ = now;
    return reported_;
}

std::optional<Time> Chord::wakeAt() const
{
    const Time nextReport = reportedAt_ ? *reportedAt_ + ReportInterval : Time::zero();
    if (heldSince_)
        return std::min(nextReport, *heldSince_ + hold_);
    if (reported_ != 0)
        return nextReport;
    return std::nullopt;
}

} // namespace owguard
