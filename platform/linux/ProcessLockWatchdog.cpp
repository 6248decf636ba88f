#include "ProcessLockWatchdog.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <string>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ow {

ProcessLockWatchdog::ProcessLockWatchdog(QString helperPath, QString recordPath)
    : m_helperPath(std::move(helperPath))
    , m_recordPath(std::move(recordPath))
{
}

ProcessLockWatchdog::~ProcessLockWatchdog()
{
    disarmed();
}

QString ProcessLockWatchdog::besideApplication()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/orbinwash-watchdog");
}

void ProcessLockWatchdog::armed(std::chrono::milliseconds untilDeadline)
{
    disarmed();
    const QByteArray helper = QFile::encodeName(m_helperPath);
    if (helper.isEmpty() || ::access(helper.constData(), X_OK) != 0)
        return;
    // A socket rather than a pipe: a heartbeat to a helper that died must not raise SIGPIPE.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    const std::string deadline = std::to_string(untilDeadline.count());
    const QByteArray record = QFile::encodeName(m_recordPath);
    char* argv[] = {const_cast<char*>(helper.constData()), const_cast<char*>(deadline.c_str()),
                    const_cast<char*>(record.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    // glibc spawns with vfork semantics: the lock, about to take input, waits on nothing costly.
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, helper.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (error != 0) {
        ::close(fds[0]);
        return;
    }
    m_pid = pid;
    m_fd = fds[0];
}

void ProcessLockWatchdog::heartbeat()
{
    if (m_fd < 0)
        return;
    // Never blocks the main loop: a full buffer means the helper has plenty of beats.
    const char beat = kHeartbeat;
    ::send(m_fd, &beat, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void ProcessLockWatchdog::disarmed()
{
    if (m_pid > 0) {
        // Killed, not asked: it can then never act on a lock that is over, even if it
        // was about to, and reaping it cannot wait on a helper that was stopped.
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace ow
