#pragma once

#include <QString>

namespace ow {

// Leaves a record of how the process died, for the next launch to send, and reads the
// calling thread's stack for errors the program reports itself.
class FatalErrorHooks {
public:
    virtual ~FatalErrorHooks() = default;

    // From now on a fatal error writes its record at recordPath.
    virtual void install(const QString& recordPath) = 0;
    // The calling thread's stack below the caller, innermost first, one frame a line, at
    // most maxFrames lines.
    virtual QString currentStack(int maxFrames) = 0;
};

} // namespace ow
