#pragma once

#include <QtGlobal>

// What a process and its descendants (OrbinWash's watchdog, say) cost, from /proc.
namespace ow::bench {

// Nanoseconds on a CPU so far, summed over every thread of the process tree.
qint64 treeCpuNs(qint64 pid);
// Resident memory of the process tree, in KiB.
qint64 treeRssKiB(qint64 pid);

} // namespace ow::bench
