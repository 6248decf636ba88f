#include "XvfbServer.h"

#include <cstdio>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

extern char** environ;

namespace ow::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kDisplayTimeout = 10s;
constexpr auto kWindowManagerTimeout = 5s;
constexpr auto kTerminateGrace = 2s;

QString describeStatus(int status)
{
    if (WIFEXITED(status))
        return QStringLiteral("exited with code %1").arg(WEXITSTATUS(status));
    return QStringLiteral("was killed by signal %1 (%2)")
        .arg(WTERMSIG(status))
        .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
}

// Null-terminated pointer array over strings that outlive it.
std::vector<char*> cStrings(std::vector<QByteArray>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (QByteArray& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// fork/exec rather than QProcess: there is no QCoreApplication yet, and the child must
// die with us. keepFd is the one descriptor the child inherits besides stdio.
pid_t spawn(const QStringList& args, std::vector<QByteArray> env, int logFd, int keepFd,
            QString* error)
{
    const QString program = QStandardPaths::findExecutable(args.first());
    if (program.isEmpty()) {
        *error = QStringLiteral("%1 not found in PATH").arg(args.first());
        return -1;
    }
    std::vector<QByteArray> argStrings;
    argStrings.push_back(program.toLocal8Bit());
    for (qsizetype i = 1; i < args.size(); ++i)
        argStrings.push_back(args[i].toLocal8Bit());
    std::vector<char*> argv = cStrings(argStrings);
    std::vector<char*> envp = cStrings(env);

    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    // The child reports a failed exec through this pipe; a successful exec closes it.
    int execError[2];
    if (nullFd < 0 || pipe2(execError, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot start %1: %2").arg(args.first(), qt_error_string(errno));
        if (nullFd >= 0)
            close(nullFd);
        return -1;
    }

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Async-signal-safe calls only until exec: the parent may have other threads.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(nullFd, STDIN_FILENO);
        dup2(logFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        if (keepFd >= 0)
            fcntl(keepFd, F_SETFD, 0);
        execve(argv[0], argv.data(), envp.data());
        const int err = errno;
        [[maybe_unused]] const ssize_t written = write(execError[1], &err, sizeof err);
        _exit(127);
    }
    const int forkErrno = errno;
    close(nullFd);
    close(execError[1]);
    if (pid < 0) {
        close(execError[0]);
        *error = QStringLiteral("cannot fork for %1: %2").arg(args.first(),
                                                              qt_error_string(forkErrno));
        return -1;
    }
    int childErrno = 0;
    ssize_t n;
    do {
        n = read(execError[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    close(execError[0]);
    if (n == sizeof childErrno) {
        waitpid(pid, nullptr, 0);
        *error = QStringLiteral("cannot run %1: %2").arg(program, qt_error_string(childErrno));
        return -1;
    }
    return pid;
}

// Reaps pid if it ends within timeout. A pid that is no child of ours counts as ended.
bool waitExited(pid_t pid, Clock::duration timeout, int* status)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    if (!waitExited(pid, kTerminateGrace, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::vector<QByteArray> currentEnvironment()
{
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    return env;
}

std::vector<QByteArray> environmentWith(const QByteArray& name, const QByteArray& value)
{
    std::vector<QByteArray> env = currentEnvironment();
    const QByteArray prefix = name + '=';
    std::erase_if(env, [&](const QByteArray& e) { return e.startsWith(prefix); });
    env.push_back(prefix + value);
    return env;
}

} // namespace

XvfbServer::XvfbServer(const QStringList& extraArgs)
{
    QByteArray logPath = QFile::encodeName(QDir::tempPath() + QStringLiteral("/ow-xvfb-log-XXXXXX"));
    m_logFd = mkostemp(logPath.data(), O_CLOEXEC);
    if (m_logFd < 0) {
        fail(QStringLiteral("cannot create the Xvfb log: %1").arg(qt_error_string(errno)));
        return;
    }
    // Nobody else needs the log by name; it goes away with the descriptor.
    unlink(logPath.constData());

    int displayPipe[2];
    if (pipe2(displayPipe, O_CLOEXEC) != 0) {
        fail(QStringLiteral("cannot create a pipe: %1").arg(qt_error_string(errno)));
        return;
    }
    const QStringList args = QStringList{QStringLiteral("Xvfb"),
                                         QStringLiteral("-displayfd"),
                                         QString::number(displayPipe[1]),
                                         QStringLiteral("-nolisten"),
                                         QStringLiteral("tcp"),
                                         QStringLiteral("-noreset"),
                                         QStringLiteral("-screen"),
                                         QStringLiteral("0"),
                                         QStringLiteral("1280x800x24")}
        + extraArgs;
    m_pid = spawn(args, currentEnvironment(), m_logFd, displayPipe[1], &m_error);
    close(displayPipe[1]);
    if (m_pid < 0) {
        close(displayPipe[0]);
        return;
    }

    // Xvfb writes the display number once it listens; EOF means it died first.
    QByteArray reply;
    const auto deadline = Clock::now() + kDisplayTimeout;
    bool eof = false;
    while (!reply.contains('\n') && !eof) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms)
            break;
        pollfd p{displayPipe[0], POLLIN, 0};
        const int ready = poll(&p, 1, int(left.count()));
        if (ready <= 0)
            continue;
        char buffer[32];
        const ssize_t n = read(displayPipe[0], buffer, sizeof buffer);
        if (n > 0)
            reply.append(buffer, n);
        else if (n == 0)
            eof = true;
    }
    close(displayPipe[0]);

    bool ok = false;
    const int number = reply.trimmed().toInt(&ok);
    if (reply.contains('\n') && ok) {
        m_display = QStringLiteral(":%1").arg(number);
        return;
    }
    int status = 0;
    if (eof && waitExited(m_pid, kTerminateGrace, &status)) {
        m_pid = -1;
        fail(QStringLiteral("Xvfb %1 before reporting a display number").arg(describeStatus(status)));
        return;
    }
    stop(m_pid);
    m_pid = -1;
    fail(QStringLiteral("Xvfb reported no display number within %1 s")
             .arg(std::chrono::seconds(kDisplayTimeout).count()));
}

XvfbServer::~XvfbServer()
{
    // The window manager first, so it does not die of a lost connection mid-shutdown.
    if (m_wmPid > 0)
        stop(m_wmPid);
    if (m_pid > 0)
        stop(m_pid);
    if (m_logFd >= 0)
        close(m_logFd);
}

bool XvfbServer::isRunning() const
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == 0)
        return true;
    m_pid = -1;
    fail(r > 0 ? QStringLiteral("Xvfb %1").arg(describeStatus(status))
               : QStringLiteral("Xvfb is gone"));
    return false;
}

QString XvfbServer::display() const
{
    return m_display;
}

QString XvfbServer::errorString() const
{
    return m_error;
}

bool XvfbServer::startWindowManager()
{
    if (!isRunning())
        return false;
    int status = 0;
    if (m_wmPid > 0) {
        if (waitpid(m_wmPid, &status, WNOHANG) == 0)
            return true;
        m_wmPid = -1;
    }
    m_wmPid = spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")},
                    environmentWith("DISPLAY", m_display.toLocal8Bit()), m_logFd, -1, &m_error);
    if (m_wmPid < 0)
        return false;

    Display* display = XOpenDisplay(m_display.toLocal8Bit().constData());
    if (!display) {
        stop(m_wmPid);
        m_wmPid = -1;
        fail(QStringLiteral("cannot connect to %1").arg(m_display));
        return false;
    }
    const Atom selection = XInternAtom(display, "WM_S0", False);
    const Atom requestExtents = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    const Atom frameExtents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    const Window root = XDefaultRootWindow(display);
    // Never mapped, so the question asked below moves no focus and changes no stacking.
    const Window question = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, question, PropertyChangeMask);
    const auto deadline = Clock::now() + kWindowManagerTimeout;
    std::optional<Clock::time_point> askedAt;
    bool answered = false;
    QString problem;
    while (!answered) {
        XWindowAttributes attributes;
        if ((!askedAt || Clock::now() - *askedAt >= 100ms)
            && XGetSelectionOwner(display, selection) != None
            && XGetWindowAttributes(display, root, &attributes)
            && (attributes.all_event_masks & SubstructureRedirectMask)) {
            // Owning WM_S0 comes early in openbox's startup. It answers this request from
            // its event loop only, so the answer means its own windows exist and it manages
            // whatever a test maps from now on. It drops requests that come too early, so
            // ask again until it answers.
            XEvent request = {};
            request.xclient.type = ClientMessage;
            request.xclient.window = question;
            request.xclient.message_type = requestExtents;
            request.xclient.format = 32;
            XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask,
                       &request);
            XFlush(display);
            askedAt = Clock::now();
        }
        XEvent event;
        while (XCheckTypedWindowEvent(display, question, PropertyNotify, &event))
            answered = answered || event.xproperty.atom == frameExtents;
        if (answered)
            break;
        if (waitpid(m_wmPid, &status, WNOHANG) == m_wmPid) {
            m_wmPid = -1;
            problem = QStringLiteral("openbox %1 while starting").arg(describeStatus(status));
            break;
        }
        if (Clock::now() >= deadline) {
            problem = askedAt ? QStringLiteral("openbox did not finish starting within %1 s")
                                  .arg(std::chrono::seconds(kWindowManagerTimeout).count())
                            : QStringLiteral("openbox did not own WM_S0 within %1 s")
                                  .arg(std::chrono::seconds(kWindowManagerTimeout).count());
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    XDestroyWindow(display, question);
    XCloseDisplay(display);
    if (problem.isEmpty())
        return true;
    if (m_wmPid > 0) {
        stop(m_wmPid);
        m_wmPid = -1;
    }
    fail(problem);
    return false;
}

void XvfbServer::fail(const QString& what) const
{
    const QString tail = logTail();
    m_error = tail.isEmpty() ? what : what + QStringLiteral("; output so far:\n") + tail;
}

QString XvfbServer::logTail() const
{
    // Enough for a fatal error and its context, not for a whole usage text.
    constexpr off_t kTail = 1024;
    struct stat info;
    if (m_logFd < 0 || fstat(m_logFd, &info) != 0)
        return {};
    const off_t from = info.st_size > kTail ? info.st_size - kTail : 0;
    QByteArray text(qsizetype(info.st_size - from), Qt::Uninitialized);
    const ssize_t n = pread(m_logFd, text.data(), size_t(text.size()), from);
    text.truncate(n > 0 ? qsizetype(n) : 0);
    if (from > 0)
        text.remove(0, text.indexOf('\n') + 1);
    return QString::fromLocal8Bit(text).trimmed();
}

bool XvfbServer::becomeSessionDisplay() const
{
    if (!isRunning()) {
        std::fprintf(stderr, "Could not start Xvfb: %s\n", qPrintable(errorString()));
        return false;
    }
    qputenv("DISPLAY", m_display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orbinwash-bus");
    return true;
}

} // namespace ow::test
