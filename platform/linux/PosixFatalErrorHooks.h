#pragma once

#include "FatalErrorHooks.h"

namespace ow {

// Leaves a record of how the process died, for the next launch to send.
// A fatal signal (SIGABRT, SIGSEGV, SIGILL, SIGBUS, SIGFPE, SIGTRAP) writes
// "Signal <number>"; an uncaught C++ exception writes "Exception: <type> — <what()>".
// Then come "\n---\n" and up to 30 stack frames, one a line, with no line feed at the
// end. The record replaces the file atomically, mode 0600, and the process then dies the
// way it would have without the hooks (an uncaught exception by SIGABRT).
// A second fatal signal while a record is being written ends the process at once.
class PosixFatalErrorHooks : public FatalErrorHooks {
public:
    static constexpr int MaxFrames = 30;

    // Call from the main thread: the alternate signal stack that lets a stack overflow be
    // recorded is the calling thread's. Calling again only changes the record's path.
    // A path longer than the system allows leaves the hooks uninstalled.
    void install(const QString& recordPath) override;

    // The calling thread's stack below the caller of this function, innermost first,
    // one frame a line, at most maxFrames lines.
    QString currentStack(int maxFrames) override;
};

} // namespace ow
