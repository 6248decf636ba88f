#pragma once

#include "LockRequest.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace ow {

// What `orbinwash` was asked for on its command line: to start, to lock (`--lock`, ended
// early by `--for SECONDS`), its help or its version. Read before anything needs a
// display, so that help, the version and a mistake are told without one.
class CommandLine {
public:
    // The exit status of a lock command that did not lock, and of a mistake in the options.
    static constexpr int kNotLocked = 1;
    static constexpr int kUsageError = 2;

    explicit CommandLine(const QStringList& arguments);

    // Prints the help, the version or the mistake, and gives the exit status; none when
    // OrbinWash is to run.
    std::optional<int> answerAlone() const;
    bool locks() const { return m_locks; }
    const LockRequest& lockRequest() const { return m_lockRequest; }

    // Prints why a lock command did not lock; the exit status of the outcome.
    static int report(LockOutcome outcome);

private:
    QString m_help;
    QString m_mistake;
    bool m_showHelp = false;
    bool m_showVersion = false;
    bool m_locks = false;
    LockRequest m_lockRequest;
};

} // namespace ow
