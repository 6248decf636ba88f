#pragma once

#include <QString>

namespace ow {

// Keeps the power, suspend and hibernate keys from acting while held. Those keys are read
// by the system, not by the desktop session, so no input grab stops them. The lid switch
// is left alone: closing the lid is what the user means.
class PowerKeyInhibitor {
public:
    virtual ~PowerKeyInhibitor() = default;
    // True when the keys are now held off (also when they already were).
    virtual bool acquire(const QString& reason) = 0;
    // Lets the keys act again. Safe when not held.
    virtual void release() = 0;
};

} // namespace ow
