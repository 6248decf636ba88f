#pragma once

namespace owguard {

// The system bus service: serves Lock, Release and CanLock until it has been idle a while.
// Options: --idle-exit-seconds=N (default 30), --device-dir=PATH (default /dev/input).
// Returns the process's exit code: 0 after an idle exit or SIGTERM, 2 on bad arguments,
// 1 when the bus cannot be reached or the name cannot be had.
int runBusService(int argc, char** argv);

} // namespace owguard
