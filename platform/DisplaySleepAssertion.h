#pragma once

#include <QString>

namespace ow {

// Keeps the display from blanking or sleeping while held.
class DisplaySleepAssertion {
public:
    virtual ~DisplaySleepAssertion() = default;
    // Returns the assertion's identifier, or 0 when none could be taken.
    virtual quint32 create(const QString& reason) = 0;
    virtual void release(quint32 id) = 0;
};

} // namespace ow
